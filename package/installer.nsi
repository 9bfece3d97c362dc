; The installer of Korvane Portable Edition: KorvanePortable_<version>_English.paf.exe,
; the form in which portable-apps users and their Platform install and update
; apps. scripts/package.sh builds it with makensis from the package staging:
;   STAGE         the staged KorvanePortable folder, exactly what the zip holds
;   VERSION       three numbers (1.1.0); VERSION_TEXT four (1.1.0.0)
;   ICON          the program's .ico;  OUTFILE  the installer to write
;
; It installs into <DESTINATION>\KorvanePortable, or into the folder that /D=
; or its one folder page names. An upgrade replaces the launcher, the guide,
; App and Other and keeps Data as it is. It writes nothing else: no registry
; keys, no uninstaller. Its one plug-in (System, to see links) goes to a
; folder in TEMP that NSIS removes when the installer ends.
; Exit codes: 0 installed, 1 cancelled by the user, 2 refused or failed.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
XPStyle on
CRCCheck on

!include LogicLib.nsh
!include FileFunc.nsh

Name "Korvane Portable Edition"
Caption "Korvane Portable Edition ${VERSION} setup"
BrandingText "Korvane Portable Edition ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
; The folder's last part is what the folder page's Browse adds to a pick.
InstallDir "$EXEDIR\KorvanePortable"
DirText "Korvane Portable Edition ${VERSION} will be installed into this folder. If it already holds Korvane Portable Edition, it is upgraded: the Data folder, with your programs and settings, stays as it is." \
        "Install into"

VIProductVersion "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 ProductName "Korvane Portable Edition"
VIAddVersionKey /LANG=1033 ProductVersion "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 FileVersion "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 FileDescription "Korvane Portable Edition ${VERSION} installer"
VIAddVersionKey /LANG=1033 CompanyName "Korvane Portable Edition team"
VIAddVersionKey /LANG=1033 LegalCopyright "Copyright 2026 the Korvane Portable Edition team, MIT licence"

Page directory "" "" DirectoryLeave
Page instfiles

Var Destination
Var AutoClose
Var Refusal
Var Created
Var Stage
Var InstFinal
Var Leftover
Var InstLen

; The new files are written into a folder $INSTDIR\${STAGE_PREFIX}<n> first,
; whose upgrade.ini is written before anything else (AppID) and again once all
; new files are in it (Ready=1): a rerun knows such a folder as ours and
; finishes a swap that was cut off.
!define STAGE_PREFIX "KorvanePortable-upgrade-"
!define STAGE_PREFIX_LENGTH 24

; The text of $CMDLINE from index $0 up to the next blank that begins a
; switch (" /" or " "/"), trailing blanks cut: the unquoted value of a
; switch, which may hold blanks. Leaves the value in $5 and its end in $0.
Function ReadUnquotedValue
  StrCpy $2 $0
  ${Do}
    StrCpy $1 $CMDLINE 1 $2
    ${If} $1 == ""
      ${ExitDo}
    ${ElseIf} $1 == " "
      IntOp $3 $2 + 1
      StrCpy $1 $CMDLINE 2 $3
      ${If} $1 == '"/'
        ${ExitDo}
      ${EndIf}
      StrCpy $1 $1 1
      ${If} $1 == "/"
        ${ExitDo}
      ${EndIf}
    ${EndIf}
    IntOp $2 $2 + 1
  ${Loop}
  IntOp $3 $2 - $0
  StrCpy $5 $CMDLINE $3 $0
  StrCpy $0 $2
  ${Do}
    StrCpy $1 $5 1 -1
    ${IfThen} $1 != " " ${|} ${ExitDo} ${|}
    StrCpy $5 $5 -1
  ${Loop}
FunctionEnd

; The text of $CMDLINE from index $0 up to the next double quote, in $5; $0
; moves past that quote.
Function ReadQuotedValue
  StrCpy $2 $0
  ${Do}
    StrCpy $1 $CMDLINE 1 $2
    ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    ${IfThen} $1 == '"' ${|} ${ExitDo} ${|}
    IntOp $2 $2 + 1
  ${Loop}
  IntOp $3 $2 - $0
  StrCpy $5 $CMDLINE $3 $0
  IntOp $0 $2 + 1
FunctionEnd

; Reads /DESTINATION=, /SILENT= and /AUTOCLOSE= from the command line in each
; form that programs write: /NAME="a b", "/NAME=a b", and /NAME=a b unquoted up
; to the next switch. (NSIS's own GetOptions skips a switch quoted as a
; whole.) NSIS has already taken /S, /NCRC and a last /D=, which $CMDLINE no
; longer holds. Names are case-blind.
Function ParseCommandLine
  ; Past the program's own path, quoted or not.
  StrCpy $1 $CMDLINE 1
  StrCpy $0 1
  ${If} $1 == '"'
    Call ReadQuotedValue
  ${Else}
    ${Do}
      StrCpy $1 $CMDLINE 1 $0
      ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
      ${IfThen} $1 == " " ${|} ${ExitDo} ${|}
      IntOp $0 $0 + 1
    ${Loop}
  ${EndIf}
  ${Do}
    StrCpy $1 $CMDLINE 1 $0
    ${If} $1 == ""
      ${ExitDo}
    ${ElseIf} $1 == " "
      IntOp $0 $0 + 1
      ${Continue}
    ${EndIf}
    ; A token: its opening quote, then its name up to "=", a blank or a quote.
    StrCpy $6 ""
    ${If} $1 == '"'
      StrCpy $6 '"'
      IntOp $0 $0 + 1
    ${EndIf}
    StrCpy $4 $0
    ${Do}
      StrCpy $1 $CMDLINE 1 $4
      ${If} $1 == ""
      ${OrIf} $1 == " "
      ${OrIf} $1 == '"'
      ${OrIf} $1 == "="
        ${ExitDo}
      ${EndIf}
      IntOp $4 $4 + 1
    ${Loop}
    IntOp $3 $4 - $0
    StrCpy $7 $CMDLINE $3 $0
    StrCpy $0 $4
    StrCpy $5 ""
    ${If} $1 == "="
      IntOp $0 $0 + 1
      StrCpy $1 $CMDLINE 1 $0
      ${If} $1 == '"'
        IntOp $0 $0 + 1
        Call ReadQuotedValue
      ${ElseIf} $6 == '"'
        Call ReadQuotedValue
      ${Else}
        Call ReadUnquotedValue
      ${EndIf}
    ${ElseIf} $1 == '"'
      IntOp $0 $0 + 1
    ${EndIf}
    ${If} $7 == "/DESTINATION"
      StrCpy $Destination $5
    ${ElseIf} $7 == "/SILENT"
      ${IfThen} $5 == "true" ${|} SetSilent silent ${|}
    ${ElseIf} $7 == "/AUTOCLOSE"
      ${IfThen} $5 == "true" ${|} StrCpy $AutoClose 1 ${|}
    ${EndIf}
    ; Past the rest of a token that is none of these.
    ${Do}
      StrCpy $1 $CMDLINE 1 $0
      ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
      ${IfThen} $1 == " " ${|} ${ExitDo} ${|}
      IntOp $0 $0 + 1
    ${Loop}
  ${Loop}
FunctionEnd

Function .onInit
  StrCpy $Leftover ""
  Call ParseCommandLine
  ; /DESTINATION= names the parent folder, as a Platform passes it, with "\"
  ; or "/" between its parts; a folder that already is this program's is
  ; upgraded itself rather than given a second copy inside.
  ${If} $Destination != ""
    StrCpy $0 0
    StrCpy $2 ""
    ${Do}
      StrCpy $1 $Destination 1 $0
      ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
      ${IfThen} $1 == "/" ${|} StrCpy $1 "\" ${|}
      StrCpy $2 "$2$1"
      IntOp $0 $0 + 1
    ${Loop}
    StrCpy $Destination $2
    ${Do}
      StrCpy $1 $Destination 1 -1
      ${IfThen} $1 != "\" ${|} ${ExitDo} ${|}
      StrCpy $Destination $Destination -1
    ${Loop}
    ReadINIStr $1 "$Destination\App\AppInfo\appinfo.ini" Details AppID
    ${If} $1 == "KorvanePortable"
      StrCpy $INSTDIR $Destination
    ${Else}
      StrCpy $INSTDIR "$Destination\KorvanePortable"
    ${EndIf}
  ${EndIf}
FunctionEnd

; $R1: the path that Windows opens for $R0 with links and junctions resolved,
; or "" where it cannot tell (Windows XP has no GetFinalPathNameByHandle).
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

; Removes the folders that CheckTarget created for a new install, from
; $INSTDIR up to $Created, each only if empty.
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

; 1 in $0 when file $R0 carries our launcher's version resource: its product
; name and its description (this installer has the same product name).
Function IsOurLauncher
  StrCpy $0 0
  System::Call 'version::GetFileVersionInfoSizeW(w R0, *i 0) i .r1'
  ${If} $1 > 0
    System::Alloc $1
    Pop $2
    System::Call 'version::GetFileVersionInfoW(w R0, i 0, i r1, p r2) i .r3'
    ${If} $3 <> 0
      System::Call 'version::VerQueryValueW(p r2, w "\StringFileInfo\040904B0\ProductName", *p .r4, *i .r5) i .r3'
      ${If} $3 <> 0
        System::Call 'kernel32::lstrcpynW(w .r6, p r4, i 64)'
        System::Call 'version::VerQueryValueW(p r2, w "\StringFileInfo\040904B0\FileDescription", *p .r4, *i .r5) i .r3'
        ${If} $3 <> 0
          System::Call 'kernel32::lstrcpynW(w .r7, p r4, i 64)'
          ${If} $6 == "Korvane Portable Edition"
          ${AndIf} $7 == "Korvane Portable Edition, Loader Module"
            StrCpy $0 1
          ${EndIf}
        ${EndIf}
      ${EndIf}
    ${EndIf}
    System::Free $2
  ${EndIf}
FunctionEnd

; 1 in $0 when $R5 is a stage folder of ours (its upgrade.ini names our AppID);
; 2 when it is empty (cut off before upgrade.ini was written); else 0.
Function StageKind
  StrCpy $0 0
  ReadINIStr $1 "$R5\upgrade.ini" Upgrade AppID
  ; Cut off while its marker was rewritten: the new one is whole.
  ${IfThen} $1 != "KorvanePortable" ${|} ReadINIStr $1 "$R5\upgrade.new" Upgrade AppID ${|}
  ${If} $1 == "KorvanePortable"
    StrCpy $0 1
  ${Else}
    ${DirState} $R5 $1
    ${IfThen} $1 == 0 ${|} StrCpy $0 2 ${|}
  ${EndIf}
FunctionEnd

; 1 in $0 when $INSTDIR is ours: its appinfo.ini names our AppID, or its
; launcher is ours by its version resource, or it holds a stage of ours. The
; launcher's name alone proves nothing.
Function IsOurs
  ReadINIStr $0 "$INSTDIR\App\AppInfo\appinfo.ini" Details AppID
  ${If} $0 == "KorvanePortable"
    StrCpy $0 1
    Return
  ${EndIf}
  StrCpy $R0 "$INSTDIR\KorvanePortable.exe"
  Call IsOurLauncher
  ${IfThen} $0 == 1 ${|} Return ${|}
  ; A stage proves the folder only when the folder holds nothing else but
  ; Data: a fresh install cut off before it moved anything in. A planted one
  ; beside someone else's files proves nothing.
  StrCpy $0 0
  FindFirst $8 $9 "$INSTDIR\*"
  ${DoWhile} $9 != ""
    StrCpy $1 $9 ${STAGE_PREFIX_LENGTH}
    ${If} $9 != "."
    ${AndIf} $9 != ".."
    ${AndIf} $9 != "Data"
    ${AndIf} $1 != "${STAGE_PREFIX}"
      StrCpy $0 2
      ${ExitDo}
    ${EndIf}
    FindNext $8 $9
  ${Loop}
  FindClose $8
  ${If} $0 == 2
    StrCpy $0 0
    Return
  ${EndIf}
  FindFirst $8 $9 "$INSTDIR\${STAGE_PREFIX}*"
  ${DoWhile} $9 != ""
    StrCpy $R5 "$INSTDIR\$9"
    Call StageKind
    ${IfThen} $0 == 1 ${|} ${ExitDo} ${|}
    StrCpy $0 0
    FindNext $8 $9
  ${Loop}
  FindClose $8
FunctionEnd

; Sets $Refusal to why nothing may be written into $INSTDIR, or to "". All is
; checked before anything is written, so a refused install changes nothing.
; Leaves in $Stage a name for a new folder inside $INSTDIR that is free.
Function CheckTarget
  StrCpy $Refusal ""
  ${If} ${FileExists} "$INSTDIR\*.*"
    Call IsOurs
    ${DirState} "$INSTDIR" $3
    ${If} $0 == 1
    ${OrIf} $3 == 0
    ${ElseIf} ${FileExists} "$INSTDIR\Data\*.*"
    ${AndIfNot} ${FileExists} "$INSTDIR\KorvanePortable.exe"
      StrCpy $Refusal "$INSTDIR holds a Data folder but no Korvane Portable Edition (no launcher of ours, no App\AppInfo\appinfo.ini), so it is not taken for this program's. Nothing was changed. If that Data is Korvane Portable Edition's, move it out, install, and move it back over the new, empty Data folder."
      Return
    ${Else}
      StrCpy $Refusal "$INSTDIR already holds something other than Korvane Portable Edition. Nothing was changed; choose an empty folder or one that holds Korvane Portable Edition."
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
      ${EndIf}
      StrCpy $Created $0
    ${Loop}
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
      StrCpy $Refusal "Cannot create $INSTDIR. Is the drive write-protected? Nothing was changed."
      Call RemoveCreated
      Return
    ${EndIf}
  ${EndIf}
  ; A running launcher, or one on a write-protected drive, cannot be opened
  ; for writing; nor can any other file of an upgrade then.
  ${If} ${FileExists} "$INSTDIR\KorvanePortable.exe"
    ClearErrors
    FileOpen $0 "$INSTDIR\KorvanePortable.exe" a
    ${If} ${Errors}
      StrCpy $Refusal "Korvane Portable Edition is running from $INSTDIR, or the drive is write-protected. Close it and try again. Nothing was changed."
      Return
    ${EndIf}
    FileClose $0
  ${EndIf}
  ; What an upgrade replaces or removes, and only that: the user's own files
  ; beside them may be in use.
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
  ${ForEach} $R3 0 4 + 1
    ${Select} $R3
      ${Case} 0
        StrCpy $R9 "$INSTDIR\KorvanePortable.exe"
      ${Case} 1
        StrCpy $R9 "$INSTDIR\help.html"
      ${Case} 2
        StrCpy $R9 "$INSTDIR\LICENSE.txt"
      ${Case} 3
        StrCpy $R9 "$INSTDIR\App"
      ${Case} 4
        StrCpy $R9 "$INSTDIR\Other"
    ${EndSelect}
    ${If} ${FileExists} $R9
      Call CheckReplaceable
      Pop $0
      ${IfThen} $Refusal != "" ${|} Return ${|}
      ${If} $R3 >= 3
        ${Locate} "$R9" "/L=FD" CheckReplaceable
        ${IfThen} $Refusal != "" ${|} Return ${|}
      ${EndIf}
    ${EndIf}
  ${Next}
  ; A stage of ours that a cut-off upgrade left is finished and removed.
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

Function DirectoryLeave
  Call CheckTarget
  ${If} $Refusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$Refusal"
    Abort
  ${EndIf}
  StrCpy $Stage ""
FunctionEnd

; The name of the upgrade's $R4th file or folder (0 to 4) in $R9.
Function OurName
  ${Select} $R4
    ${Case} 0
      StrCpy $R9 "KorvanePortable.exe"
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

; Swaps the new files of stage $R5 in, one name at a time: the old one into
; $R5\old, then the new one out of $R5. A name still in $R5 is not in yet, so
; a rerun after a cut at any rename finishes the swap the same way. Earlier
; packages kept the licence beside the launcher; it goes aside with the rest.
; Sets the error flag if a rename failed.
Function SwapIn
  StrCpy $R2 0
  ${ForEach} $R4 0 4 + 1
    Call OurName
    ${If} ${FileExists} "$R5\$R9"
    ${OrIf} $R9 == "LICENSE.txt"
      ${If} ${FileExists} "$INSTDIR\$R9"
        ClearErrors
        Rename "$INSTDIR\$R9" "$R5\old\$R9"
        ${If} ${Errors}
          StrCpy $R2 1
          ${ExitFor}
        ${EndIf}
      ${EndIf}
      ${If} ${FileExists} "$R5\$R9"
        ClearErrors
        Rename "$R5\$R9" "$INSTDIR\$R9"
        ${If} ${Errors}
          StrCpy $R2 1
          ${ExitFor}
        ${EndIf}
      ${EndIf}
    ${EndIf}
  ${Next}
  ClearErrors
  ${IfThen} $R2 == 1 ${|} SetErrors ${|}
FunctionEnd

; Undoes SwapIn for stage $R5: the new files back into $R5, the old ones back
; into $INSTDIR. Sets the error flag if an old one could not be moved back.
Function SwapBack
  StrCpy $R2 0
  ${ForEach} $R4 0 4 + 1
    Call OurName
    ${If} $R9 != "LICENSE.txt"
    ${AndIfNot} ${FileExists} "$R5\$R9"
    ${AndIf} ${FileExists} "$INSTDIR\$R9"
      Rename "$INSTDIR\$R9" "$R5\$R9"
    ${EndIf}
    ${If} ${FileExists} "$R5\old\$R9"
      ClearErrors
      Rename "$R5\old\$R9" "$INSTDIR\$R9"
      ${IfThen} ${Errors} ${|} StrCpy $R2 1 ${|}
    ${EndIf}
  ${Next}
  ClearErrors
  ${IfThen} $R2 == 1 ${|} SetErrors ${|}
FunctionEnd

; Removes stage $R5 once its swap is done or undone; upgrade.ini goes last, so
; a stage that cannot be removed entirely stays known as ours. Under Wine a
; symbolic link whose target is missing is listed nowhere and stays behind:
; then $Leftover names the stage.
Function RemoveStage
  RMDir /r "$R5\old"
  ${ForEach} $R4 0 4 + 1
    Call OurName
    RMDir /r "$R5\$R9"
    Delete "$R5\$R9"
  ${Next}
  ${IfNot} ${FileExists} "$R5\old"
    Delete "$R5\upgrade.new"
    Delete "$R5\upgrade.ini"
  ${EndIf}
  RMDir $R5
  ${IfThen} ${FileExists} $R5 ${|} StrCpy $Leftover $R5 ${|}
FunctionEnd

; Finishes the swap of each stage of ours that a cut-off upgrade left (one
; whose new files were all written), and removes it. Sets the error flag
; when a swap could not be finished; it is then undone where it can be.
Function RepairStages
  StrCpy $R3 0
  FindFirst $8 $9 "$INSTDIR\${STAGE_PREFIX}*"
  ${DoWhile} $9 != ""
    StrCpy $R5 "$INSTDIR\$9"
    Call StageKind
    ${If} $0 == 2
      RMDir $R5
    ${ElseIf} $0 == 1
      ReadINIStr $1 "$R5\upgrade.ini" Upgrade Ready
      ${IfThen} $1 != 1 ${|} ReadINIStr $1 "$R5\upgrade.new" Upgrade Ready ${|}
      ${If} $1 == 1
        CreateDirectory "$R5\old"
        Call SwapIn
        ${If} ${Errors}
          Call SwapBack
          StrCpy $R3 1
          ${ExitDo}
        ${EndIf}
      ${EndIf}
      Call RemoveStage
    ${EndIf}
    FindNext $8 $9
  ${Loop}
  FindClose $8
  ClearErrors
  ${IfThen} $R3 == 1 ${|} SetErrors ${|}
FunctionEnd

; Removes what a failed install wrote; what was there before is untouched.
; NSIS comes here too when it stops on a file it cannot write (a full drive).
Function .onInstFailed
  ; Out of the folder first: the working folder cannot be removed. (At a
  ; drive root $EXEDIR is "E:", the working folder on that drive, not its root.)
  SetOutPath $TEMP
  ${If} $Stage != ""
    RMDir /r $Stage
    StrCpy $Stage ""
  ${EndIf}
  Call RemoveCreated
FunctionEnd

Section
  Call CheckTarget
  ${If} $Refusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$Refusal" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${IfThen} $AutoClose == 1 ${|} SetAutoClose true ${|}

  Call RepairStages
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "An earlier upgrade of $INSTDIR was cut off, and its new files could not be moved in (is one in use?). They wait in $R5; close what uses $INSTDIR and run the installer again." /SD IDOK
    StrCpy $Stage ""
    SetErrorLevel 2
    Abort
  ${EndIf}

  ; The new launcher, guide, App and Other are written into the stage first.
  ; Only when all are there are the old ones moved aside and the new ones
  ; moved in (renames in one folder need no room), so a full drive or a
  ; failed write leaves the folder as it was.
  ClearErrors
  CreateDirectory $Stage
  WriteINIStr "$Stage\upgrade.ini" Upgrade AppID KorvanePortable
  CreateDirectory "$Stage\old"
  SetOutPath $Stage
  File "${STAGE}\KorvanePortable.exe"
  File "${STAGE}\help.html"
  File /r "${STAGE}\App"
  File /r "${STAGE}\Other"
  SetOutPath $TEMP
  ; The marker becomes ready in one rename: a cut leaves the old marker or
  ; the whole new one (which StageKind reads too), never an emptied one.
  ${IfNot} ${Errors}
    WriteINIStr "$Stage\upgrade.new" Upgrade AppID KorvanePortable
    WriteINIStr "$Stage\upgrade.new" Upgrade Ready 1
    Delete "$Stage\upgrade.ini"
    Rename "$Stage\upgrade.new" "$Stage\upgrade.ini"
  ${EndIf}
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Not every file could be written into $INSTDIR (is the drive full?). Nothing was changed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  StrCpy $R5 $Stage
  Call SwapIn
  ${If} ${Errors}
    Call SwapBack
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "The upgrade of $INSTDIR stopped halfway (is a file in use?). Close what uses $INSTDIR and run the installer again: it finishes the upgrade." /SD IDOK
      StrCpy $Stage ""
      SetErrorLevel 2
      Abort
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "The old files in $INSTDIR could not be replaced (is one in use?). Nothing was changed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; The old files now lie in $Stage\old, and nothing inside them is a link.
  Call RemoveStage
  StrCpy $Stage ""
  ClearErrors
  SetOutPath "$INSTDIR\Data"
  SetOverwrite off
  File "${STAGE}\Data\README.txt"
  SetOutPath $TEMP
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "The new version is installed, but Data\README.txt could not be written." /SD IDOK
    SetErrorLevel 2
  ${EndIf}
  ${If} $Leftover != ""
    MessageBox MB_OK|MB_ICONSTOP "The new version is installed, but $Leftover, the old version's files, could not be removed entirely (under Wine, a symbolic link whose target is missing is not listed). Delete it yourself." /SD IDOK
    SetErrorLevel 2
  ${EndIf}
SectionEnd
