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
  StrLen $2 $INSTDIR
  StrCpy $2 $R9 "" $2
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

; True (1 in $0) when $INSTDIR holds our launcher and nothing but the names
; that a package of ours puts at its top: a folder whose upgrade stopped
; before appinfo.ini was written is still ours, and may be repaired.
Function HoldsOnlyOurs
  StrCpy $0 0
  ${IfNot} ${FileExists} "$INSTDIR\KorvanePortable.exe"
    Return
  ${EndIf}
  StrCpy $0 1
  FindFirst $1 $2 "$INSTDIR\*"
  ${DoWhile} $2 != ""
    ${Select} $2
      ${Case5} "." ".." "KorvanePortable.exe" "help.html" "LICENSE.txt"
      ${Case3} "App" "Other" "Data"
      ${CaseElse}
        StrCpy $0 0
    ${EndSelect}
    FindNext $1 $2
  ${Loop}
  FindClose $1
FunctionEnd
; Sets $Refusal to why nothing may be written into $INSTDIR, or to "". All is
; checked before anything is written, so a refused install changes nothing.
; Leaves in $Stage a name for a new folder inside $INSTDIR that is free.
Function CheckTarget
  StrCpy $Refusal ""
  ${If} ${FileExists} "$INSTDIR\*.*"
    ${DirState} "$INSTDIR" $3
    ReadINIStr $1 "$INSTDIR\App\AppInfo\appinfo.ini" Details AppID
    Call HoldsOnlyOurs
    ${If} $1 == "KorvanePortable"
    ${OrIf} $0 == 1
    ${OrIf} $3 == 0
    ${ElseIf} ${FileExists} "$INSTDIR\Data\*.*"
    ${AndIfNot} ${FileExists} "$INSTDIR\KorvanePortable.exe"
      StrCpy $Refusal "$INSTDIR holds a Data folder but no Korvane Portable Edition (no KorvanePortable.exe, no App\AppInfo\appinfo.ini), so it is not taken for this program's. Nothing was changed. If that Data is Korvane Portable Edition's, move it out, install, and move it back over the new, empty Data folder."
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
  StrCpy $R0 $INSTDIR
  Call FinalPath
  StrCpy $InstFinal $R1
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
  ; Last, as it writes: a folder with none of these files may still be
  ; read-only. The probe's name is one that no file there has.
  ClearErrors
  GetTempFileName $Stage "$INSTDIR"
  ${If} ${Errors}
  ${OrIf} $Stage == ""
    StrCpy $Refusal "Cannot write into $INSTDIR. Is the drive write-protected? Nothing was changed."
    StrCpy $Stage ""
    Call RemoveCreated
    Return
  ${EndIf}
  Delete $Stage
FunctionEnd

Function DirectoryLeave
  Call CheckTarget
  ${If} $Refusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$Refusal"
    Abort
  ${EndIf}
  StrCpy $Stage ""
FunctionEnd

; Moves each of the names that an upgrade replaces from folder $R0 into
; folder $R1 where it exists; sets the error flag if a move failed.
Function MoveOurs
  StrCpy $R2 0
  ${ForEach} $R4 0 4 + 1
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
    ${If} ${FileExists} "$R0\$R9"
      ClearErrors
      Rename "$R0\$R9" "$R1\$R9"
      ${IfThen} ${Errors} ${|} StrCpy $R2 1 ${|}
    ${EndIf}
  ${Next}
  ClearErrors
  ${IfThen} $R2 == 1 ${|} SetErrors ${|}
FunctionEnd

; Removes what a failed install wrote; what was there before is untouched.
; NSIS comes here too when it stops on a file it cannot write (a full drive).
Function .onInstFailed
  ; Out of the folder first: the working folder cannot be removed.
  SetOutPath $EXEDIR
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

  ; The new launcher, guide, App and Other are written into a new folder
  ; inside $INSTDIR first. Only when all are there are the old ones moved
  ; aside and the new ones moved in (renames in one folder need no room), so
  ; a full drive or a failed write leaves the folder as it was.
  ClearErrors
  CreateDirectory "$Stage\old"
  SetOutPath $Stage
  File "${STAGE}\KorvanePortable.exe"
  File "${STAGE}\help.html"
  File /r "${STAGE}\App"
  File /r "${STAGE}\Other"
  SetOutPath $EXEDIR
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Not every file could be written into $INSTDIR (is the drive full?). Nothing was changed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; Earlier packages kept the licence beside the launcher; it goes with them.
  StrCpy $R0 $INSTDIR
  StrCpy $R1 "$Stage\old"
  Call MoveOurs
  ${IfNot} ${Errors}
    StrCpy $R0 $Stage
    StrCpy $R1 $INSTDIR
    Call MoveOurs
    ${If} ${Errors}
      StrCpy $R0 $INSTDIR
      StrCpy $R1 $Stage
      Call MoveOurs
      SetErrors
    ${EndIf}
  ${EndIf}
  ${If} ${Errors}
    StrCpy $R0 "$Stage\old"
    StrCpy $R1 $INSTDIR
    Call MoveOurs
    ${If} ${Errors}
      MessageBox MB_OK|MB_ICONSTOP "The upgrade of $INSTDIR stopped: the old files that could not be moved back are in $Stage\old. Move them back into $INSTDIR." /SD IDOK
      StrCpy $Stage ""
      SetErrorLevel 2
      Abort
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "The old files in $INSTDIR could not be replaced (is one in use?). Nothing was changed." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; The old files now lie in $Stage\old, and nothing inside them is a link.
  RMDir /r $Stage
  StrCpy $Stage ""
  ClearErrors
  SetOutPath "$INSTDIR\Data"
  SetOverwrite off
  File "${STAGE}\Data\README.txt"
  SetOutPath $EXEDIR
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "The new version is installed, but Data\README.txt could not be written." /SD IDOK
    SetErrorLevel 2
  ${EndIf}
SectionEnd
