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
; keys, no uninstaller, and it uses no plug-ins, so nothing goes to TEMP.
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
  ; /DESTINATION= names the parent folder, as a Platform passes it.
  ${If} $Destination != ""
    ${Do}
      StrCpy $1 $Destination 1 -1
      ${IfThen} $1 != "\" ${|} ${ExitDo} ${|}
      StrCpy $Destination $Destination -1
    ${Loop}
    StrCpy $INSTDIR "$Destination\KorvanePortable"
  ${EndIf}
FunctionEnd

; Locate's call for each file that an upgrade replaces: one that cannot be
; opened for writing (in use, read-only) would stop the upgrade half way.
Function CheckReplaceable
  ClearErrors
  FileOpen $0 $R9 a
  ${If} ${Errors}
    StrCpy $Refusal "$R9 is in use or read-only, so $INSTDIR cannot be upgraded. Close the program that uses it, or clear its read-only attribute, and try again. Nothing was changed."
    Push StopLocate
  ${Else}
    FileClose $0
    Push ""
  ${EndIf}
FunctionEnd

; Sets $Refusal to why nothing may be written into $INSTDIR, or to "". All is
; checked before anything is written, so a refused install changes nothing.
Function CheckTarget
  StrCpy $Refusal ""
  StrCpy $Created ""
  ${If} ${FileExists} "$INSTDIR\*.*"
    ${DirState} "$INSTDIR" $0
    ReadINIStr $1 "$INSTDIR\App\AppInfo\appinfo.ini" Details AppID
    ${If} $0 == 1
    ${AndIf} $1 != "KorvanePortable"
      StrCpy $Refusal "$INSTDIR already holds something other than Korvane Portable Edition. Nothing was changed; choose an empty folder or one that holds Korvane Portable Edition."
      Return
    ${EndIf}
  ${ElseIf} ${FileExists} "$INSTDIR"
    StrCpy $Refusal "$INSTDIR is a file, not a folder. Nothing was changed."
    Return
  ${Else}
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
      StrCpy $Refusal "Cannot create $INSTDIR. Is the drive write-protected? Nothing was changed."
      Return
    ${EndIf}
    StrCpy $Created 1
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
  ${Locate} "$INSTDIR" "/L=F /G=0" CheckReplaceable
  ${IfThen} $Refusal != "" ${|} Return ${|}
  ${Locate} "$INSTDIR\App" "/L=F" CheckReplaceable
  ${IfThen} $Refusal != "" ${|} Return ${|}
  ${Locate} "$INSTDIR\Other" "/L=F" CheckReplaceable
  ${IfThen} $Refusal != "" ${|} Return ${|}
  ; Last, as it writes: a folder with none of these files may still be read-only.
  ClearErrors
  FileOpen $0 "$INSTDIR\KorvanePortable-setup.tmp" w
  ${If} ${Errors}
    StrCpy $Refusal "Cannot write into $INSTDIR. Is the drive write-protected? Nothing was changed."
    ${IfThen} $Created == 1 ${|} RMDir "$INSTDIR" ${|}
    Return
  ${EndIf}
  FileClose $0
  Delete "$INSTDIR\KorvanePortable-setup.tmp"
FunctionEnd

Function DirectoryLeave
  Call CheckTarget
  ${If} $Refusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$Refusal"
    Abort
  ${EndIf}
FunctionEnd

Section
  Call CheckTarget
  ${If} $Refusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$Refusal" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${IfThen} $AutoClose == 1 ${|} SetAutoClose true ${|}

  ; What the package brings is replaced as a whole, so that no file of an
  ; older version stays behind; Data is the user's. Earlier packages kept the
  ; licence beside the launcher.
  Delete "$INSTDIR\KorvanePortable.exe"
  Delete "$INSTDIR\help.html"
  Delete "$INSTDIR\LICENSE.txt"
  RMDir /r "$INSTDIR\App"
  RMDir /r "$INSTDIR\Other"
  ClearErrors
  SetOutPath "$INSTDIR"
  File "${STAGE}\KorvanePortable.exe"
  File "${STAGE}\help.html"
  File /r "${STAGE}\App"
  File /r "${STAGE}\Other"
  SetOutPath "$INSTDIR\Data"
  SetOverwrite off
  File "${STAGE}\Data\README.txt"
  ; The installer's working folder would otherwise stay in the new folder.
  SetOutPath "$EXEDIR"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "Not every file could be written into $INSTDIR. Data was not touched; run the installer again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
SectionEnd
