; The stage and the swap. The new files are written into a folder
; $INSTDIR\${STAGE_PREFIX}<n> first, whose upgrade.ini is written before
; anything else (AppID) and, once all new files are in it, replaced whole by
; one with Ready=1: a rerun knows such a folder as ours and finishes a swap
; that was cut off. Renames inside one folder need no room, so a full drive
; or a failed write leaves the folder as it was.
;
; Each function names the registers it reads (In), leaves (Out) and
; overwrites (Uses); none of them saves any.

; Writes the new launcher, guide, App, Other and Data\README.txt into $Stage.
; Sets the error flag when a file could not be written.
Function WriteStage
  ClearErrors
  CreateDirectory $Stage
  WriteINIStr "$Stage\upgrade.ini" Upgrade AppID ${APPID}
  CreateDirectory "$Stage\old"
  SetOutPath $Stage
  File "${STAGE}\${APPID}.exe"
  File "${STAGE}\help.html"
  File /r "${STAGE}\App"
  File /r "${STAGE}\Other"
  SetOutPath "$Stage\Data"
  File "${STAGE}\Data\README.txt"
  SetOutPath $TEMP
  ; The marker becomes ready in one rename: a cut leaves the old marker or
  ; the whole new one (which StageKind reads too), never an emptied one.
  ${IfNot} ${Errors}
    WriteINIStr "$Stage\upgrade.new" Upgrade AppID ${APPID}
    WriteINIStr "$Stage\upgrade.new" Upgrade Ready 1
    Delete "$Stage\upgrade.ini"
    Rename "$Stage\upgrade.new" "$Stage\upgrade.ini"
  ${EndIf}
FunctionEnd

; Swaps the new files of stage $R5 in, one name at a time: the old one into
; $R5\old, then the new one out of $R5. A name still in $R5 is not in yet, so
; a rerun after a cut at any rename finishes the swap the same way. Then
; Data\README.txt, where Data has none (a read-only Data keeps none).
; Sets the error flag if a rename of ours failed. In $R5. Uses $R2 $R4 $R9.
Function SwapIn
  StrCpy $R2 0
  ${ForEach} $R4 0 ${LAST_NAME} + 1
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
  ${If} $R2 == 0
  ${AndIf} ${FileExists} "$R5\Data\README.txt"
  ${AndIfNot} ${FileExists} "$INSTDIR\Data\README.txt"
    CreateDirectory "$INSTDIR\Data"
    Rename "$R5\Data\README.txt" "$INSTDIR\Data\README.txt"
  ${EndIf}
  ClearErrors
  ${IfThen} $R2 == 1 ${|} SetErrors ${|}
FunctionEnd

; Undoes SwapIn for stage $R5: the new files back into $R5, the old ones back
; into $INSTDIR. Sets the error flag if an old one could not be moved back.
; In $R5. Uses $R2 $R4 $R9.
Function SwapBack
  StrCpy $R2 0
  ${ForEach} $R4 0 ${LAST_NAME} + 1
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

; Removes stage $R5 once its swap is done or undone; the marker goes last, so
; a stage that cannot be removed entirely stays known as ours. Under Wine a
; symbolic link whose target is missing is listed nowhere and stays behind:
; then $Leftover names the stage. In $R5. Uses $R4 $R9.
Function RemoveStage
  RMDir /r "$R5\old"
  RMDir /r "$R5\Data"
  ${ForEach} $R4 0 ${LAST_NAME} + 1
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

; Finishes the swap of each marked stage that a cut-off run left (one whose
; new files were all written), and removes it and every unmarked one. Sets
; the error flag when a swap could not be finished; it is then undone where
; it can be, and $R5 names that stage. Uses $0 $1 $8 $9 $R2 to $R9 (not $R8).
Function RepairStages
  StrCpy $R3 0
  FindFirst $8 $9 "$INSTDIR\${STAGE_PREFIX}*"
  ${DoWhile} $9 != ""
    StrCpy $R5 "$INSTDIR\$9"
    Call StageKind
    ${If} $0 == 2
      Call RemoveStage
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
