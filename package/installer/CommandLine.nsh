; The installer's command line, read by hand: NSIS's GetOptions skips a switch
; that is quoted as a whole, and a Platform writes its switches in each form:
; /NAME="a b", "/NAME=a b", and /NAME=a b unquoted up to the next switch.
; NSIS itself has already taken /S, /NCRC and a last /D=, which $CMDLINE no
; longer holds. Names are case-blind.
;
; Each function below names the registers it reads (In), leaves (Out) and
; overwrites (Uses); none of them saves any.

; The value of a switch that is not quoted: $CMDLINE from index $0 up to the
; next blank that begins a switch (" /" or ' "/'), trailing blanks cut. A
; blank and "-" do not end it: folder names may hold " -".
; In $0. Out $5 the value, $0 its end. Uses $1 $2 $3.
Function ReadUnquotedValue
  StrCpy $2 $0
  ${Do}
    StrCpy $1 $CMDLINE 1 $2
    ${If} $1 == ""
      ${ExitDo}
    ${ElseIf} $1 == " "
      IntOp $3 $2 + 1
      StrCpy $1 $CMDLINE 2 $3
      ${IfThen} $1 == '"/' ${|} ${ExitDo} ${|}
      StrCpy $1 $1 1
      ${IfThen} $1 == "/" ${|} ${ExitDo} ${|}
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

; The value of a quoted switch: $CMDLINE from index $0 up to the next double
; quote. In $0. Out $5 the value, $0 past that quote. Uses $1 $2 $3.
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

; The value after a switch's name: quoted after its "=" (/NAME="a b"), quoted
; with the whole switch ("/NAME=a b", $6 is '"'), or unquoted.
; In $0 (at the value), $6. Out $5, $0. Uses $1 $2 $3.
Function ReadValue
  StrCpy $1 $CMDLINE 1 $0
  ${If} $1 == '"'
    IntOp $0 $0 + 1
    Call ReadQuotedValue
  ${ElseIf} $6 == '"'
    Call ReadQuotedValue
  ${Else}
    Call ReadUnquotedValue
  ${EndIf}
FunctionEnd

; Sets $Destination (/DESTINATION=, or the older -o<folder>), $CopyNumber,
; $AutoClose, $HideInstaller and $LogFile, and silent mode for /SILENT=true.
; /SILENTLANGUAGEMODE= is read and has nothing to choose: the installer
; holds one language. Uses $0 to $7.
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
    ; -o only with a path after it (-oE:\x, -o"E:\x", -o\\server\x):
    ; -overwrite is no destination. $2 the two characters after -o, $3 the second.
    StrCpy $1 $CMDLINE 2 $0
    IntOp $2 $0 + 2
    StrCpy $2 $CMDLINE 2 $2
    StrCpy $3 $2 1 1
    StrCpy $4 $2 1
    ${If} $1 == "-o"
      ${If} $3 == ":"
      ${OrIf} $2 == "\\"
      ${OrIf} $4 == '"'
        StrCpy $1 "-o path"
      ${EndIf}
    ${EndIf}
    ${If} $1 == "-o path"
      IntOp $0 $0 + 2
      Call ReadValue
      ${IfThen} $Destination == "" ${|} StrCpy $Destination $5 ${|}
      ${Continue}
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
      Call ReadValue
    ${ElseIf} $1 == '"'
      IntOp $0 $0 + 1
    ${EndIf}
    ${If} $7 == "/DESTINATION"
      StrCpy $Destination $5
      StrCpy $DestinationGiven 1
    ${ElseIf} $7 == "/SILENT"
      ${IfThen} $5 == "true" ${|} SetSilent silent ${|}
    ${ElseIf} $7 == "/AUTOCLOSE"
      ${IfThen} $5 == "true" ${|} StrCpy $AutoClose 1 ${|}
    ${ElseIf} $7 == "/HIDEINSTALLER"
      ${IfThen} $5 == "true" ${|} StrCpy $HideInstaller 1 ${|}
    ${ElseIf} $7 == "/COPYNUMBER"
      StrCpy $CopyNumber $5
    ${ElseIf} $7 == "/LOG"
      ${IfThen} $5 == "true" ${|} StrCpy $LogFile "$EXEDIR\$EXEFILE.log" ${|}
    ${EndIf}
    ; Past the rest of a token that is none of these.
    ${Do}
      StrCpy $1 $CMDLINE 1 $0
      ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
      ${IfThen} $1 == " " ${|} ${ExitDo} ${|}
      IntOp $0 $0 + 1
    ${Loop}
  ${Loop}
  ${IfThen} $Destination != "" ${|} StrCpy $DestinationGiven 1 ${|}
FunctionEnd

; Refuses a command line longer than NSIS's strings hold: $CMDLINE would end
; in the middle of it, and with it a destination. It is measured in full from
; Windows, which also says whether the cut-off part asked for silence (/S
; between blanks or at the end). Uses $0 $1 $2.
Function CheckCommandLineLength
  System::Call 'kernel32::GetCommandLineW() p .r0'
  System::Call 'kernel32::lstrlenW(p r0) i .r1'
  ${If} $1 >= ${NSIS_MAX_STRLEN}
    System::Call 'shlwapi::StrStrIW(p r0, w "/SILENT=true") p .r2'
    ${IfThen} $2 <> 0 ${|} SetSilent silent ${|}
    System::Call 'shlwapi::StrStrIW(p r0, w " /S ") p .r2'
    ${IfThen} $2 <> 0 ${|} SetSilent silent ${|}
    IntOp $2 $1 - 3
    IntOp $2 $2 * 2
    IntPtrOp $2 $0 + $2
    System::Call 'kernel32::lstrcmpiW(p r2, w " /S") i .r2'
    ${IfThen} $2 == 0 ${|} SetSilent silent ${|}
    ${Refuse} "The installer's command line is $1 characters long; it reads at most ${NSIS_MAX_STRLEN}, so a destination in it would be cut off. Choose a shorter destination folder. Nothing was changed."
  ${EndIf}
FunctionEnd

; $R0 with "/" as "\" and each run of separators as one, but for the "\\"
; that begins a share or a "\\?\" path; trailing ones are kept. In and Out
; $R0. Uses $0 $1 $2 $3.
Function CollapseSeparators
  StrCpy $0 0
  StrCpy $2 ""
  StrCpy $3 ""
  ${Do}
    StrCpy $1 $R0 1 $0
    ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    ${IfThen} $1 == "/" ${|} StrCpy $1 "\" ${|}
    ${If} $1 != "\"
    ${OrIf} $3 != "\"
    ${OrIf} $0 == 1
      StrCpy $2 "$2$1"
    ${EndIf}
    StrCpy $3 $1
    IntOp $0 $0 + 1
  ${Loop}
  StrCpy $R0 $2
FunctionEnd

; The folder to install into, from /DESTINATION= (the parent folder, as a
; Platform passes it, with "\" or "/" between its parts; /COPYNUMBER=n gives
; KorvanePortable_Copy_n there). A folder that already is this program's (its
; appinfo.ini or its launcher) is upgraded itself rather than given a second
; copy inside. A destination that is no full path is refused, and so is a
; copy number that is not a number, and a character that names may not hold.
; Uses $0 to $6, $R0 to $R3.
Function DestinationToInstDir
  StrCpy $R0 $Destination
  Call CollapseSeparators
  StrCpy $Destination $R0
  ; A drive letter, its colon and a separator (or nothing), "\\server\..."
  ; of a share, or a "\\?\" path that goes on with either.
  StrCpy $1 $Destination 4
  StrCpy $R0 $Destination
  ${IfThen} $1 == "\\?\" ${|} StrCpy $R0 $Destination "" 4 ${|}
  StrCpy $1 $R0 1 1
  StrCpy $2 $R0 1 2
  StrCpy $3 $R0 2
  StrCpy $4 $R0 1 2
  StrCpy $5 $R0 4
  ${If} $1 == ":"
  ${AndIf} $2 == "\"
  ${ElseIf} $1 == ":"
  ${AndIf} $2 == ""
  ${ElseIf} $3 == "\\"
  ${AndIf} $4 != ""
  ${AndIf} $4 != "\"
  ${AndIf} $R0 == $Destination
  ${ElseIf} $5 == "UNC\"
  ${AndIf} $R0 != $Destination
  ${Else}
    ${Refuse} `The destination "$Destination" is not a full path such as E:\PortableApps\, so it is not known where to install. Nothing was changed.`
  ${EndIf}
  StrCpy $R0 "$Destination\$CopyNumber"
  Call CheckNameCharacters
  ${If} $Refusal != ""
    ${Refuse} $Refusal
  ${EndIf}
  ; A copy number of digits only (as a number writes them): one with "\" or
  ; ".." would name another folder.
  IntOp $0 $CopyNumber + 0
  ${If} $CopyNumber != ""
  ${AndIf} $0 != $CopyNumber
    ${Refuse} "The copy number $CopyNumber is not a number such as 2. Nothing was changed."
  ${EndIf}
  ${Do}
    StrCpy $1 $Destination 1 -1
    ${IfThen} $1 != "\" ${|} ${ExitDo} ${|}
    StrCpy $Destination $Destination -1
  ${Loop}
  StrCpy $R0 "$Destination\${APPID}.exe"
  Call IsOurLauncher
  ReadINIStr $1 "$Destination\App\AppInfo\appinfo.ini" Details AppID
  ${If} $1 == "${APPID}"
  ${OrIf} $0 == 1
    StrCpy $INSTDIR $Destination
  ${ElseIf} $CopyNumber != ""
    StrCpy $INSTDIR "$Destination\${APPID}_Copy_$CopyNumber"
  ${Else}
    StrCpy $INSTDIR "$Destination\${APPID}"
  ${EndIf}
FunctionEnd
; Without a destination, an installer that stands in a folder of ours (its
; appinfo.ini or its launcher) upgrades that folder instead of nesting a
; copy in it. A /D= of another folder is kept. Uses $0 to $5, $R0 to $R3.
Function InstallerInOwnFolder
  ${If} $INSTDIR == "$EXEDIR\${APPID}"
    ReadINIStr $0 "$EXEDIR\App\AppInfo\appinfo.ini" Details AppID
    ${If} $0 != "${APPID}"
      StrCpy $R0 "$EXEDIR\${APPID}.exe"
      Call IsOurLauncher
      ${IfThen} $0 == 1 ${|} StrCpy $0 "${APPID}" ${|}
    ${EndIf}
    ${IfThen} $0 == "${APPID}" ${|} StrCpy $INSTDIR $EXEDIR ${|}
  ${EndIf}
FunctionEnd
