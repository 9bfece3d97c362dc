; Whose folder $INSTDIR is, and whether it may be written: all is checked
; before anything is written, so a refused install changes nothing.
;
; Each function names the registers it reads (In), leaves (Out) and
; overwrites (Uses); none of them saves any.

; The names that an upgrade replaces or removes, and only these: the $R4th
; (0 to ${LAST_NAME}) in $R9. Earlier packages kept the licence beside the
; launcher; it goes with the rest. The user's own files beside them stay.
!define LAST_NAME 4
Function OurName
  ${Select} $R4
    ${Case} 0
      StrCpy $R9 "${APPID}.exe"
    ${Case} 1
      StrCpy $R9 "help.html"
    ${Case} 2
      StrCpy $R9 "LICENSE.txt"
    ${Case} 3
      StrCpy $R9 "App"
    ${Case} 4
      StrCpy $R9 "Other"
  ${EndSelect}
FunctionEnd

; The path that Windows opens for $R0 with links and junctions resolved, or
; "" where it cannot tell (Windows XP has no GetFinalPathNameByHandle).
; In $R0. Out $R1. Uses $0 $1.
Function FinalPath
  StrCpy $R1 ""
  System::Call 'kernel32::CreateFileW(w R0, i 0, i 7, p 0, i 3, i 0x02000000, p 0) p .r0'
  ${If} $0 != -1
    System::Call 'kernel32::GetFinalPathNameByHandleW(p r0, w .R1, i ${NSIS_MAX_STRLEN}, i 0) i .r1'
    ${If} $1 == error
    ${OrIf} $1 == 0
      StrCpy $R1 ""
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
FunctionEnd

; Checks $R9, a file or folder that an upgrade replaces or removes (Locate
; calls it for each one inside App and Other). A link or junction is refused:
; deleting through it, or writing into it, would reach what it points to
; (under Wine even a link to a file: deleting it deletes its target). A file
; that cannot be opened for writing (in use, read-only) would stop the upgrade.
; In $R9, $InstFinal, $InstLen. Out $Refusal, and StopLocate or "" pushed.
; Uses $0 $1 $2 $R0 $R1.
Function CheckReplaceable
  StrCpy $R0 $R9
  Call FinalPath
  System::Call 'kernel32::GetFileAttributesW(w R9) i .r0'
  IntOp $1 $0 & 0x400
  StrCpy $2 $R9 "" $InstLen
  ${If} $R1 != ""
  ${AndIf} $InstFinal != ""
  ${AndIf} $R1 != "$InstFinal$2"
    StrCpy $1 1
  ${EndIf}
  ${If} $1 != 0
    StrCpy $Refusal "$R9 is a link to another place (a symbolic link or junction): an upgrade would delete what it points to. Nothing was changed; remove the link, or move it out of $INSTDIR, and try again."
  ${ElseIf} ${FileExists} "$R9\*.*"
  ${Else}
    ClearErrors
    FileOpen $0 $R9 a
    ${If} ${Errors}
      StrCpy $Refusal "$R9 is in use or read-only, so $INSTDIR cannot be upgraded. Close the program that uses it, or clear its read-only attribute, and try again. Nothing was changed."
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
  ${If} $Refusal != ""
    Push StopLocate
  ${Else}
    Push ""
  ${EndIf}
FunctionEnd

; The text of version resource key $R1 ("ProductName") of file $R0, in the
; file's first language, up to 63 characters, or "". In $R0 $R1. Out $R2.
; Uses $1 to $5.
Function VersionString
  StrCpy $R2 ""
  System::Call 'version::GetFileVersionInfoSizeW(w R0, *i 0) i .r1'
  ${If} $1 > 0
    System::Alloc $1
    Pop $2
    System::Call 'version::GetFileVersionInfoW(w R0, i 0, i r1, p r2) i .r3'
    ${If} $3 <> 0
      System::Call 'version::VerQueryValueW(p r2, w "\VarFileInfo\Translation", *p .r4, *i .r5) i .r3'
      ${If} $3 <> 0
      ${AndIf} $5 >= 4
        System::Call '*$4(&i2 .r3, &i2 .r5)'
        IntFmt $3 "%04X" $3
        IntFmt $5 "%04X" $5
        StrCpy $3 "$3$5"
      ${Else}
        StrCpy $3 040904B0
      ${EndIf}
      System::Call 'version::VerQueryValueW(p r2, w "\StringFileInfo\$3\$R1", *p .r4, *i .r5) i .r3'
      ${If} $3 <> 0
        System::Call 'kernel32::lstrcpynW(w .R2, p r4, i 64)'
      ${EndIf}
    ${EndIf}
    System::Free $2
  ${EndIf}
FunctionEnd

; 1 in $0 when file $R0 carries our launcher's version resource: its product
; name and its description (this installer has the same product name).
; In $R0. Out $0. Uses $1 to $5, $R1 $R2 $R3.
Function IsOurLauncher
  StrCpy $0 0
  StrCpy $R1 ProductName
  Call VersionString
  StrCpy $R3 $R2
  StrCpy $R1 FileDescription
  Call VersionString
  ${If} $R3 == "${PRODUCT}"
  ${AndIf} $R2 == "${PRODUCT}, Loader Module"
    StrCpy $0 1
  ${EndIf}
FunctionEnd

; What a folder named like a stage is. 1: ours, its marker (upgrade.ini, or
; upgrade.new while the marker is rewritten) names our AppID. 2: unmarked,
; cut off before or while its marker was first written, and holding nothing
; but what a stage holds, with its "old" empty; no proof of ownership, and
; no obstacle: it is removed. 0: anything else.
; In $R5. Out $0. Uses $1 $R4 $R6 $R7 $R9.
Function StageKind
  ReadINIStr $1 "$R5\upgrade.ini" Upgrade AppID
  ${IfThen} $1 != "${APPID}" ${|} ReadINIStr $1 "$R5\upgrade.new" Upgrade AppID ${|}
  ${If} $1 == "${APPID}"
    StrCpy $0 1
    Return
  ${EndIf}
  StrCpy $0 2
  ${IfNot} ${FileExists} "$R5\*.*"
    StrCpy $0 0
    Return
  ${EndIf}
  FindFirst $R6 $R7 "$R5\*"
  ${DoWhile} $R7 != ""
    ${If} $R7 == "old"
      ${DirState} "$R5\old" $1
      ${IfThen} $1 != 0 ${|} StrCpy $0 0 ${|}
    ${ElseIf} $R7 != "."
    ${AndIf} $R7 != ".."
    ${AndIf} $R7 != "upgrade.ini"
    ${AndIf} $R7 != "upgrade.new"
    ${AndIf} $R7 != "Data"
      StrCpy $1 0
      ${ForEach} $R4 0 ${LAST_NAME} + 1
        Call OurName
        ${IfThen} $R7 == $R9 ${|} StrCpy $1 1 ${|}
      ${Next}
      ${IfThen} $1 == 0 ${|} StrCpy $0 0 ${|}
    ${EndIf}
    FindNext $R6 $R7
  ${Loop}
  FindClose $R6
FunctionEnd

; Whose $INSTDIR is. 1: ours, its appinfo.ini names our AppID, or its
; launcher is ours by its version resource, or it holds a marked stage of
; ours and nothing else but Data (a fresh install cut off before it moved
; anything in; a planted one beside someone else's files proves nothing).
; 3: it holds nothing but unmarked stages, as good as empty. 0: else.
; Out $0. Uses $1 $8 $9 $R0 to $R9 (not $R8).
Function IsOurs
  ReadINIStr $0 "$INSTDIR\App\AppInfo\appinfo.ini" Details AppID
  ${If} $0 == "${APPID}"
    StrCpy $0 1
    Return
  ${EndIf}
  StrCpy $R0 "$INSTDIR\${APPID}.exe"
  Call IsOurLauncher
  ${IfThen} $0 == 1 ${|} Return ${|}
  ; $R3: 1 a marked stage seen, 2 Data seen; 0 in $0 when anything else is.
  StrCpy $0 3
  StrCpy $R3 0
  FindFirst $8 $9 "$INSTDIR\*"
  ${DoWhile} $9 != ""
    StrCpy $1 $9 ${STAGE_PREFIX_LENGTH}
    ${If} $9 == "."
    ${OrIf} $9 == ".."
    ${ElseIf} $9 == "Data"
      ${IfThen} $R3 == 0 ${|} StrCpy $R3 2 ${|}
    ${ElseIf} $1 == "${STAGE_PREFIX}"
      Push $0
      StrCpy $R5 "$INSTDIR\$9"
      Call StageKind
      StrCpy $1 $0
      Pop $0
      ${If} $1 == 1
        StrCpy $R3 1
      ${ElseIf} $1 == 0
        StrCpy $0 0
      ${EndIf}
    ${Else}
      StrCpy $0 0
    ${EndIf}
    FindNext $8 $9
  ${Loop}
  FindClose $8
  ${If} $0 == 3
    ${If} $R3 == 1
      StrCpy $0 1
    ${ElseIf} $R3 == 2
      ; Data and cut-off leftovers only: the Data folder decides.
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
FunctionEnd

; Refuses a character in path $R0 that Windows does not allow in names: <
; > : " | ? * and tabs and line ends, ":" but for the drive's. NSIS drops
; them from $INSTDIR as it is set, so a destination is checked before.
; In $R0. Out $Refusal. Uses $0 $1 $6 $R1.
Function CheckNameCharacters
  ; $R1: the path past its root ("E:", "\\?\E:", "\\?\UNC\", "\\").
  StrCpy $6 $R0 4
  StrCpy $R1 $R0 "" 2
  ${If} $6 == "\\?\"
    StrCpy $R1 $R0 "" 6
    StrCpy $0 $R0 4 4
    ${IfThen} $0 == "UNC\" ${|} StrCpy $R1 $R0 "" 8 ${|}
  ${EndIf}
  System::Call 'shlwapi::StrPBrkW(w R1, w `<>:"|?*$\t$\r$\n`) p .r0'
  ${If} $0 <> 0
    System::Call 'kernel32::lstrcpynW(w .r1, p r0, i 2)'
    StrCpy $Refusal `The folder $R0 holds the character $1, which Windows does not allow in a name, so the folder would not be the one named. Choose a name without it. Nothing was changed.`
    Return
  ${EndIf}
FunctionEnd

; Refuses folder names that Windows would not keep as written: a part that
; ends in a blank or a dot loses them, so the folder made would not be the
; folder named; a character that Windows forbids in names (which NSIS would
; drop silently); a device name (CON, NUL, COM1...); "." or ".." in a "\\?\"
; path, which Windows takes literally there. Also a path that, with the
; longest name the install writes (LONGEST_PATH characters below $INSTDIR,
; inside a stage's "old"), would pass the 259 characters that Windows allows.
; Out $Refusal. Uses $0 to $6, $R0 $R1.
Function CheckPathRules
  StrLen $0 $INSTDIR
  IntOp $0 $0 + ${STAGE_PREFIX_LENGTH}
  IntOp $0 $0 + 8
  IntOp $0 $0 + ${LONGEST_PATH}
  ${If} $0 > 259
    StrCpy $Refusal "The folder $INSTDIR is too long: the install would write paths of $0 characters there, and Windows allows 259. Choose a shorter folder. Nothing was changed."
    Return
  ${EndIf}
  StrCpy $R0 $INSTDIR
  Call CheckNameCharacters
  ${IfThen} $Refusal != "" ${|} Return ${|}
  StrCpy $6 $INSTDIR 4
  StrCpy $0 0
  StrCpy $2 ""
  ${Do}
    StrCpy $1 $INSTDIR 1 $0
    ${If} $1 == "\"
    ${OrIf} $1 == ""
      StrCpy $3 $2 1 -1
      ${If} $2 != "."
      ${AndIf} $2 != ".."
      ${AndIf} $3 == " "
      ${OrIf} $3 == "."
      ${AndIf} $2 != "."
      ${AndIf} $2 != ".."
        StrCpy $Refusal `The folder name "$2" in $INSTDIR ends in a blank or a dot, which Windows leaves out of folder names, so the folder would not be the one named. Choose a name without them. Nothing was changed.`
        Return
      ${EndIf}
      ${If} $6 == "\\?\"
        ${If} $2 == "."
        ${OrIf} $2 == ".."
          StrCpy $Refusal `The folder $INSTDIR holds "$2", which a path beginning with \\?\ does not resolve. Give the path without \\?\, or without "$2". Nothing was changed.`
          Return
        ${EndIf}
      ${EndIf}
      ; A device name, alone or before a dot: CON, PRN, AUX, NUL, COM1-9, LPT1-9.
      StrCpy $3 $2 3
      StrCpy $4 $2 1 3
      StrCpy $5 $2 1 4
      ${If} $3 == "CON"
      ${OrIf} $3 == "PRN"
      ${OrIf} $3 == "AUX"
      ${OrIf} $3 == "NUL"
        StrCpy $5 $4
        StrCpy $4 1
      ${ElseIf} $3 != "COM"
      ${AndIf} $3 != "LPT"
        StrCpy $4 ""
      ${EndIf}
      ${IfThen} $5 == "." ${|} StrCpy $5 "" ${|}
      ${If} $4 >= 1
      ${AndIf} $4 <= 9
      ${AndIf} $5 == ""
        StrCpy $Refusal `The folder name "$2" in $INSTDIR is a device's name, which Windows reserves. Choose another name. Nothing was changed.`
        Return
      ${EndIf}
      StrCpy $2 ""
      ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    ${Else}
      StrCpy $2 "$2$1"
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
FunctionEnd

; Removes the folders that CheckTarget created for a new install, from
; $INSTDIR up to $Created, each only if empty. Uses $0.
Function RemoveCreated
  ${If} $Created != ""
    StrCpy $0 $INSTDIR
    ${Do}
      RMDir $0
      ${IfThen} $0 == $Created ${|} ${ExitDo} ${|}
      ${GetParent} $0 $0
      ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
    ${Loop}
    StrCpy $Created ""
  ${EndIf}
FunctionEnd

; Sets $Refusal to why nothing may be written into $INSTDIR, or to "".
; Leaves in $Stage a name for a new folder inside $INSTDIR that is free;
; separators in $INSTDIR are collapsed first. Uses $0 to $6, $8 $9, $R0 to $R9 (not $R8).
Function CheckTarget
  StrCpy $Refusal ""
  StrCpy $R0 $INSTDIR
  Call CollapseSeparators
  StrCpy $INSTDIR $R0
  Call CheckPathRules
  ${IfThen} $Refusal != "" ${|} Return ${|}
  ${If} ${FileExists} "$INSTDIR\*.*"
    Call IsOurs
    ${DirState} "$INSTDIR" $3
    ${If} $0 == 1
    ${OrIf} $0 == 3
    ${OrIf} $3 == 0
    ${ElseIf} ${FileExists} "$INSTDIR\Data\*.*"
    ${AndIfNot} ${FileExists} "$INSTDIR\${APPID}.exe"
      StrCpy $Refusal "$INSTDIR holds a Data folder but no ${PRODUCT} (no launcher of ours, no App\AppInfo\appinfo.ini), so it is not taken for this program's. Nothing was changed. If that Data is ${PRODUCT}'s, move it out, install, and move it back over the new, empty Data folder."
      Return
    ${Else}
      StrCpy $Refusal "$INSTDIR already holds something other than ${PRODUCT}. Nothing was changed; choose an empty folder or one that holds ${PRODUCT}."
      Return
    ${EndIf}
  ${ElseIf} ${FileExists} "$INSTDIR"
    StrCpy $Refusal "$INSTDIR is a file, not a folder. Nothing was changed."
    Return
  ${Else}
    ; The outermost missing folder, so that a failed install removes all it made.
    StrCpy $Created $INSTDIR
    ${Do}
      ${GetParent} $Created $0
      ${If} $0 == ""
      ${OrIf} ${FileExists} "$0\*.*"
        ${ExitDo}
      ${ElseIf} ${FileExists} $0
        StrCpy $Refusal "$0 is a file, so no folder can be made in it for $INSTDIR. Nothing was changed."
        StrCpy $Created ""
        Return
      ${EndIf}
      StrCpy $Created $0
    ${Loop}
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
      StrCpy $Refusal "Cannot create $INSTDIR (is the drive write-protected?). Nothing was changed."
      Call RemoveCreated
      Return
    ${EndIf}
  ${EndIf}
  ; A running launcher, or one on a write-protected drive, cannot be opened
  ; for writing; nor can any other file of an upgrade then.
  ${If} ${FileExists} "$INSTDIR\${APPID}.exe"
    ClearErrors
    FileOpen $0 "$INSTDIR\${APPID}.exe" a
    ${If} ${Errors}
      StrCpy $Refusal "${PRODUCT} is running from $INSTDIR, or the drive is write-protected. Close it and try again. Nothing was changed."
      Return
    ${EndIf}
    FileClose $0
  ${EndIf}
  ; At a drive root ("F:" or "F:\") the final path ends in "\"; the names
  ; below are compared without it.
  StrCpy $R0 $INSTDIR
  StrLen $0 $INSTDIR
  ${IfThen} $0 == 2 ${|} StrCpy $R0 "$INSTDIR\" ${|}
  Call FinalPath
  StrCpy $InstFinal $R1
  StrCpy $0 $InstFinal 1 -1
  ${IfThen} $0 == "\" ${|} StrCpy $InstFinal $InstFinal -1 ${|}
  StrCpy $InstLen $INSTDIR
  StrCpy $0 $INSTDIR 1 -1
  ${IfThen} $0 == "\" ${|} StrCpy $InstLen $INSTDIR -1 ${|}
  StrLen $InstLen $InstLen
  ${ForEach} $R4 0 ${LAST_NAME} + 1
    Call OurName
    StrCpy $R9 "$INSTDIR\$R9"
    ${If} ${FileExists} $R9
      Call CheckReplaceable
      Pop $0
      ${IfThen} $Refusal != "" ${|} Return ${|}
      ${If} ${FileExists} "$R9\*.*"
        ${Locate} "$R9" "/L=FD" CheckReplaceable
        ${IfThen} $Refusal != "" ${|} Return ${|}
      ${EndIf}
    ${EndIf}
  ${Next}
  ; A marked stage that a cut-off upgrade left is finished and removed: what
  ; it holds is checked as well.
  FindFirst $8 $9 "$INSTDIR\${STAGE_PREFIX}*"
  ${DoWhile} $9 != ""
    StrCpy $R5 "$INSTDIR\$9"
    Call StageKind
    ${If} $0 == 1
      ${Locate} "$R5" "/L=FD" CheckReplaceable
      ${If} $Refusal != ""
        FindClose $8
        Return
      ${EndIf}
    ${EndIf}
    FindNext $8 $9
  ${Loop}
  FindClose $8
  ; Last, as it writes: a folder with none of these files may still be
  ; read-only. The stage's name is one that nothing there has.
  StrCpy $0 1
  ${Do}
    StrCpy $Stage "$INSTDIR\${STAGE_PREFIX}$0"
    ${IfNot} ${FileExists} $Stage
      ${ExitDo}
    ${EndIf}
    IntOp $0 $0 + 1
  ${Loop}
  ClearErrors
  CreateDirectory $Stage
  ${If} ${Errors}
    StrCpy $Refusal "Cannot write into $INSTDIR. Is the drive write-protected? Nothing was changed."
    StrCpy $Stage ""
    Call RemoveCreated
    Return
  ${EndIf}
  RMDir $Stage
FunctionEnd

; One installer of ours at a time: the second waits up to five seconds, then
; refuses and changes nothing. The lock is a named mutex that exists while
; its handle is open (so any thread may close it, and it goes with a killed
; installer); it is taken before anything is written. Out $Lock, or
; $Refusal. Uses $0 $1 $2.
Function TakeLock
  ${IfThen} $Lock != "" ${|} Return ${|}
  ${For} $1 1 50
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Global\${APPID}.installer") p .r0 ?e'
    Pop $2
    ${If} $0 == 0
      StrCpy $Refusal "The installer cannot take its lock (error $2: another program may hold an object of its name), so it cannot keep a second installer out. Nothing was changed."
      Return
    ${ElseIf} $2 != 183
      StrCpy $Lock $0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    Sleep 100
  ${Next}
  StrCpy $Refusal "Another installer of ${PRODUCT} is running. Wait until it has ended, then try again. Nothing was changed."
FunctionEnd

Function ReleaseLock
  ${If} $Lock != ""
    System::Call 'kernel32::CloseHandle(p $Lock)'
    StrCpy $Lock ""
  ${EndIf}
FunctionEnd
