; The installer of Korvane Portable Edition: KorvanePortable_<version>_English.paf.exe,
; the form in which portable-apps users and their Platform install and update
; apps. scripts/package.sh builds it with makensis from the package staging:
;   STAGE         the staged KorvanePortable folder, exactly what the zip holds
;   VERSION       three numbers (1.1.0); VERSION_TEXT four (1.1.0.0)
;   ICON          the installer's .ico;  BITMAP  the finish page's picture
;   OUTFILE       the installer to write, OUTNAME its name
;   LONGEST_PATH  the longest path in STAGE;  SIZE_KIB  the size of its files
;
; It installs into <DESTINATION>\KorvanePortable, or into the folder that /D=
; or its folder page names. An upgrade replaces the launcher, the guide, App
; and Other and keeps Data as it is. It writes nothing else on the computer:
; no registry keys, no uninstaller. Its one plug-in (System) goes to a folder
; in TEMP that NSIS removes when the installer ends.
; Exit codes: 0 installed, 1 cancelled by the user, 2 refused or failed.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
XPStyle on
CRCCheck on

!define PRODUCT "Korvane Portable Edition"
!define APPID "KorvanePortable"
!define STAGE_PREFIX "${APPID}-upgrade-"
!define STAGE_PREFIX_LENGTH 24

!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; The folder's last part is what the folder page's Browse adds to a pick.
InstallDir "$EXEDIR\${APPID}"
ShowInstDetails show

; The keys that portable-apps installers carry, which the Platform reads.
VIProductVersion "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 ProductName "${PRODUCT}"
VIAddVersionKey /LANG=1033 ProductVersion "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 FileVersion "${VERSION_TEXT}"
VIAddVersionKey /LANG=1033 FileDescription "${PRODUCT} ${VERSION} installer"
VIAddVersionKey /LANG=1033 CompanyName "${PRODUCT} team"
VIAddVersionKey /LANG=1033 LegalCopyright "Copyright 2026 the ${PRODUCT} team, MIT licence"
VIAddVersionKey /LANG=1033 Comments "Installs or upgrades ${PRODUCT} on a portable drive; Data stays as it is."
VIAddVersionKey /LANG=1033 InternalName "${APPID}"
VIAddVersionKey /LANG=1033 OriginalFilename "${OUTNAME}"
VIAddVersionKey /LANG=1033 LegalTrademarks "PortableApps.com is a registered trademark of Rare Ideas, LLC."
VIAddVersionKey /LANG=1033 PortableApps.comAppID "${APPID}"
VIAddVersionKey /LANG=1033 PortableApps.comFormatVersion "3.8"
VIAddVersionKey /LANG=1033 PortableApps.comInstallerVersion "${VERSION_TEXT}"

Var Destination
Var DestinationGiven
Var CopyNumber
Var AutoClose
Var HideInstaller
Var Automated
Var LogFile
Var Lock
Var Refusal
Var Created
Var Stage
Var InstFinal
Var InstLen
Var Leftover
Var FinishText

!macro Refuse TEXT
  Push `${TEXT}`
  Call Refuse
  Abort
!macroend
!define Refuse "!insertmacro Refuse"

!include "installer\Platform.nsh"
!include "installer\CommandLine.nsh"
!include "installer\Ownership.nsh"
!include "installer\Stage.nsh"

; The pages: the folder (skipped when a Platform installs), the progress,
; and the end, which says where the viewer and the server go.
!define MUI_ICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${BITMAP}"
!define MUI_ABORTWARNING
!define MUI_ABORTWARNING_CANCEL_DEFAULT
!define MUI_ABORTWARNING_TEXT "Quit the ${PRODUCT} ${VERSION} Setup? Nothing has been installed yet."
!define MUI_PAGE_CUSTOMFUNCTION_PRE DirectoryPre
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryLeave
!define MUI_DIRECTORYPAGE_TEXT_TOP "${PRODUCT} ${VERSION} will be installed into this folder. If it already holds ${PRODUCT}, it is upgraded: the Data folder, with your programs and settings, stays as it is."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Install into"
!insertmacro MUI_PAGE_DIRECTORY
; The end of the install stays with its details until Next.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE FinishPre
!define MUI_FINISHPAGE_TITLE "${PRODUCT} ${VERSION} is installed"
!define MUI_FINISHPAGE_TITLE_3LINES
!define MUI_FINISHPAGE_TEXT "$FinishText"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_LANGUAGE English

; Where to install, from the command line; refused before the first page when
; the command line or the destination cannot be read.
Function .onInit
  Call ParseCommandLine
  ${IfThen} $LogFile != "" ${|} Delete $LogFile ${|}
  Call CheckCommandLineLength
  ${If} $DestinationGiven == 1
    Call DestinationToInstDir
    ${IfThen} $AutoClose == 1 ${|} StrCpy $Automated 1 ${|}
    ${IfThen} $HideInstaller == 1 ${|} StrCpy $Automated 1 ${|}
  ${Else}
    Call InstallerInOwnFolder
  ${EndIf}
  ; A hidden window cannot be closed by hand.
  ${IfThen} $HideInstaller == 1 ${|} StrCpy $AutoClose 1 ${|}
FunctionEnd

Function DirectoryPre
  ${IfThen} $Automated == 1 ${|} Abort ${|}
FunctionEnd

Function DirectoryLeave
  ; Each Install is checked afresh: an earlier refusal no longer holds.
  StrCpy $Refusal ""
  Call TakeLock
  ${IfThen} $Refusal == "" ${|} Call CheckTarget ${|}
  Call ReleaseLock
  ${If} $Refusal != ""
    MessageBox MB_OK|MB_ICONSTOP "$Refusal"
    Abort
  ${EndIf}
  StrCpy $Stage ""
FunctionEnd

Function FinishPre
  ${IfThen} $AutoClose == 1 ${|} Abort ${|}
FunctionEnd

; Removes what a failed install wrote; what was there before is untouched.
; NSIS comes here too when it stops on a file it cannot write (a full drive),
; and Refuse before its box, so that no lock is held while a box waits.
Function .onInstFailed
  ; Out of the folder first: the working folder cannot be removed. (At a
  ; drive root $EXEDIR is "E:", the working folder on that drive, not its root.)
  SetOutPath $TEMP
  ${If} $Stage != ""
    RMDir /r $Stage
    StrCpy $Stage ""
  ${EndIf}
  Call RemoveCreated
  Call ReleaseLock
FunctionEnd

Section
  ; Its files are written by a function, which NSIS does not count.
  AddSize ${SIZE_KIB}
  SetDetailsPrint none
  ${IfThen} $HideInstaller == 1 ${|} HideWindow ${|}
  ${IfThen} $AutoClose == 1 ${|} SetAutoClose true ${|}
  Push "Checking $INSTDIR"
  Call Say
  ; 1. Nothing is written before the lock is held and all is checked.
  Call TakeLock
  ${If} $Refusal == ""
    Call CheckTarget
  ${EndIf}
  ${If} $Refusal != ""
    ${Refuse} $Refusal
  ${EndIf}

  ; 2. What a cut-off run left is finished or removed.
  Call RepairStages
  ${If} ${Errors}
    StrCpy $Stage ""
    ${Refuse} "An earlier upgrade of $INSTDIR was cut off, and its new files could not be moved in (is one in use?). They wait in $R5; close what uses $INSTDIR and run the installer again."
  ${EndIf}

  ; 3. The new files go into the stage.
  Push "Writing ${PRODUCT} ${VERSION}"
  Call Say
  Call WriteStage
  ${If} ${Errors}
    ${Refuse} "Not every file could be written into $INSTDIR (is the drive full?). Nothing was changed."
  ${EndIf}

  ; 4. The old files go aside and the new ones in, then the old ones go.
  Push "Putting the new version in place; Data stays as it is"
  Call Say
  StrCpy $R5 $Stage
  Call SwapIn
  ${If} ${Errors}
    Call SwapBack
    ${If} ${Errors}
      StrCpy $Stage ""
      ${Refuse} "The upgrade of $INSTDIR stopped halfway (is a file in use?). Close what uses $INSTDIR and run the installer again: it finishes the upgrade."
    ${EndIf}
    ${Refuse} "The old files in $INSTDIR could not be replaced (is one in use?). Nothing was changed."
  ${EndIf}
  ; The old files now lie in $Stage\old, and nothing inside them is a link.
  Call RemoveStage
  StrCpy $Stage ""
  ${IfNot} ${FileExists} "$INSTDIR\${APPID}.exe"
  ${OrIfNot} ${FileExists} "$INSTDIR\App\AppInfo\appinfo.ini"
    ${Refuse} "${PRODUCT} could not be installed into $INSTDIR: its files are not there after the install."
  ${EndIf}

  ; 5. What is left to say, the app's log and the Platform's notice.
  StrCpy $FinishText "${PRODUCT} ${VERSION} is installed in $INSTDIR.$\r$\n$\r$\nPut the viewer (dodivarav.exe) and the server (WinZRX.exe) into $INSTDIR\Data: the launcher starts them from there and keeps their settings there, so that they travel with the drive."
  ${IfNot} ${FileExists} "$INSTDIR\Data\README.txt"
    StrCpy $0 "The new version is installed, but $INSTDIR\Data\README.txt could not be written (is Data read-only?)."
    StrCpy $FinishText "$FinishText$\r$\n$\r$\n$0"
    Push $0
    Call Warn
  ${EndIf}
  ${If} $Leftover != ""
    StrCpy $0 "The new version is installed, but $Leftover, the old version's files, could not be removed entirely (under Wine, a symbolic link whose target is missing is not listed). Delete it yourself."
    StrCpy $FinishText "$FinishText$\r$\n$\r$\n$0"
    Push $0
    Call Warn
  ${EndIf}
  Call WriteInstallerLog
  ; The notice waits for no one: the lock goes first all the same.
  Call ReleaseLock
  Call TellPlatform
  Push "Installed in $INSTDIR"
  Call Say
SectionEnd
