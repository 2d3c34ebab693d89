; Setup for eml2pst: both programs, the help manual and the readme. scripts/windows-package.sh
; builds it:
;   makensis -DVERSION=0.1.0 -DVERSION4=0.1.0.0 -DSTAGE=<staged files>
;            -DUNINSTALL_LIST=<Delete/RMDir lines for them> -DOUTFILE=<setup.exe> installer.nsi
; Administrators install for all users under Program Files, everyone else for themselves under
; %LOCALAPPDATA%\Programs. Command line: /S silent, /AllUsers or /CurrentUser, /D=folder (last).

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!macro REQUIRE NAME
  !ifndef ${NAME}
    !error "${NAME} is not defined: build the setup with scripts/windows-package.sh"
  !endif
!macroend
!insertmacro REQUIRE VERSION
!insertmacro REQUIRE VERSION4
!insertmacro REQUIRE STAGE
!insertmacro REQUIRE UNINSTALL_LIST
!insertmacro REQUIRE OUTFILE

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\eml2pst"
!define MENU_FOLDER "$SMPROGRAMS\eml2pst"
!define PUBLISHER "eml2pst project"

Name "eml2pst ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "eml2pst ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "eml2pst"
; A new version goes where the last one is, in the same mode.
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_FUNCTION KeepCommandLineDir
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define MUI_ICON "${__FILEDIR__}\eml2pst.ico"
!define MUI_UNICON "${__FILEDIR__}\eml2pst.ico"
!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_WELCOME
!if /FileExists "${STAGE}\LICENSE.txt"
  !insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!endif
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start the eml2pst wizard"
!define MUI_FINISHPAGE_RUN_FUNCTION StartWizard
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "eml2pst"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "eml2pst setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright (C) the eml2pst contributors"

Var CommandLineDir
Var UninstallerDir

Function .onInit
  ; Without an InstallDir attribute only /D= sets $INSTDIR this early.
  StrCpy $CommandLineDir $INSTDIR
  !insertmacro MULTIUSER_INIT
FunctionEnd

; MultiUser.nsh sets the mode's default folder on every change of mode; /D= outranks it.
Function KeepCommandLineDir
  ${If} $CommandLineDir != ""
    StrCpy $INSTDIR $CommandLineDir
  ${EndIf}
FunctionEnd

Function StartWizard
  ${If} $MultiUser.InstallMode == "AllUsers"
    ; This setup may run elevated; started by Explorer the wizard runs as the user.
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\eml2pst-wizard.exe"'
  ${Else}
    Exec '"$INSTDIR\eml2pst-wizard.exe"'
  ${EndIf}
FunctionEnd

Section "eml2pst" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File /r "${STAGE}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\eml2pst.lnk" "$INSTDIR\eml2pst-wizard.exe"
  CreateShortcut "${MENU_FOLDER}\eml2pst help.lnk" "$INSTDIR\help\index.html"

  ; The uninstaller is told its mode, so it cleans the same hive and Start menu.
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $0 "/AllUsers"
  ${Else}
    StrCpy $0 "/CurrentUser"
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "eml2pst"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\eml2pst-wizard.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" $0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S $0'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $1
SectionEnd

Function un.onInit
  ; MultiUser.nsh points $INSTDIR at the registered folder; remove what lies beside this
  ; uninstaller instead.
  StrCpy $UninstallerDir $INSTDIR
  !insertmacro MULTIUSER_UNINIT
  StrCpy $INSTDIR $UninstallerDir
FunctionEnd

Section "Uninstall"
  ; Only what the setup put there: the folder may hold files of the user's.
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "${MENU_FOLDER}\eml2pst.lnk"
  Delete "${MENU_FOLDER}\eml2pst help.lnk"
  RMDir "${MENU_FOLDER}"

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
