; What the run tells: its own log (/LOG=true: $EXEFILE.log beside the
; installer), the log inside the app that portable-apps installers write, and
; the notice to a running PortableApps.com Platform beside the app.

; Shows text (pushed) in the details list and writes it to the log.
Function Say
  Exch $0
  SetDetailsPrint listonly
  DetailPrint $0
  SetDetailsPrint none
  ${If} $LogFile != ""
    Push $1
    FileOpen $1 $LogFile a
    ${If} $1 != ""
      FileSeek $1 0 END
      FileWriteUTF16LE $1 "$0$\r$\n"
      FileClose $1
    ${EndIf}
    Pop $1
  ${EndIf}
  Pop $0
FunctionEnd

; Says why the run stops (pushed text), removes what the run wrote and
; releases the lock, shows the text unless silent, and sets the exit code 2.
; The ${Refuse} macro then aborts.
Function Refuse
  Call .onInstFailed
  Exch $0
  Push $0
  Call Say
  MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
  SetErrorLevel 2
  Pop $0
FunctionEnd

; Says what went wrong in an install that happened (pushed text): on the last
; page, or in a box where there is none, and exit code 2.
Function Warn
  ${If} $AutoClose == 1
    Call Refuse
  ${Else}
    Call Say
    SetErrorLevel 2
  ${EndIf}
FunctionEnd

; App\AppInfo\pac_installer_log.ini, as portable-apps installers leave it:
; when and by which installer the app was installed. Uses $0 to $7.
Function WriteInstallerLog
  StrCpy $7 "$INSTDIR\App\AppInfo\pac_installer_log.ini"
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  WriteINIStr $7 PortableApps.comInstaller Info2 "This file was written by the ${PRODUCT} installer as the app was installed."
  WriteINIStr $7 PortableApps.comInstaller Run true
  WriteINIStr $7 PortableApps.comInstaller InstallerVersion ${VERSION_TEXT}
  WriteINIStr $7 PortableApps.comInstaller InstallDate "$2-$1-$0"
  WriteINIStr $7 PortableApps.comInstaller InstallTime "$4:$5:$6"
FunctionEnd

; A PortableApps.com Platform that runs from the folder beside the app's
; (X:\PortableApps\PortableApps.com beside X:\PortableApps\${APPID}) lists the
; new app after it finds Data\NewApp.ini and gets its registered refresh
; message, as the Platform's own installer tells it. The message's name holds
; the Platform's path as Windows gives it to a running program, so "..", "."
; and a "\\?\" prefix are resolved first. A running program cannot be opened
; for writing: that is how it is known to run. Uses $0 to $5, $R0 to $R2, $R6.
Function TellPlatform
  ${GetParent} $INSTDIR $R6
  StrCpy $0 $R6 4
  StrCpy $1 $R6 2 5
  ${If} $0 == "\\?\"
  ${AndIf} $1 == ":\"
    StrCpy $R6 $R6 "" 4
  ${EndIf}
  System::Call 'kernel32::GetFullPathNameW(w R6, i ${NSIS_MAX_STRLEN}, w .R6, p 0) i .r0'
  ${IfThen} $0 == 0 ${|} Return ${|}
  StrCpy $0 $R6 1 -1
  ${IfThen} $0 == "\" ${|} StrCpy $R6 $R6 -1 ${|}
  StrCpy $R6 "$R6\PortableApps.com"
  StrCpy $R0 "$R6\PortableAppsPlatform.exe"
  ${IfNot} ${FileExists} $R0
    Return
  ${EndIf}
  StrCpy $R1 ProductName
  Call VersionString
  ${IfThen} $R2 != "PortableApps.com Platform" ${|} Return ${|}
  StrCpy $R1 CompanyName
  Call VersionString
  ${IfThen} $R2 != "PortableApps.com" ${|} Return ${|}
  ClearErrors
  FileOpen $0 $R0 a
  ${IfNot} ${Errors}
    FileClose $0
    Return
  ${EndIf}
  CreateDirectory "$R6\Data"
  WriteINIStr "$R6\Data\NewApp.ini" NewApp AppID ${APPID}
  ; An older Platform keeps its program in App.
  ${IfThen} ${FileExists} "$R6\App\PortableAppsPlatform.exe" ${|} StrCpy $R0 "$R6\App\PortableAppsPlatform.exe" ${|}
  System::Call 'user32::RegisterWindowMessageW(w "PortableApps.comPlatformWindowMessageToRefresh$R0") i .r0'
  ; Posted to every top-level window: the installer waits for none of them,
  ; and a busy Platform reads it once it is free.
  System::Call 'user32::PostMessageW(p 0xFFFF, i r0, p 0, p 0) i .r1'
  ${IfThen} $1 == 0 ${|} Return ${|}
  Push "Told the PortableApps.com Platform in $R6 about the new app."
  Call Say
FunctionEnd
