; The Windows installer of Kelvanor, built by scripts/build-windows.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0.72 -DPACKAGE_DIR=...
;            -DSTART_AS_USER=.../start_as_user.exe -DOUTFILE=... installer.nsi
; Installs the package into Program Files with a Start-menu entry and an
; uninstaller; "/S" installs silently. The user's settings and data under
; %APPDATA%\dasTessavor are never touched, not even by the uninstaller.
; A 64-bit installer for the 64-bit programs (and it needs no 32-bit layer).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"

Name "Kelvanor ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kelvanor"
InstallDirRegKey HKLM "Software\Kelvanor" "InstallDir"
BrandingText "Kelvanor ${VERSION}"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductName" "Kelvanor"
VIAddVersionKey /LANG=1031 "FileDescription" "Kelvanor ${VERSION} Installation"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "CompanyName" "Kelvanor"
VIAddVersionKey /LANG=1031 "LegalCopyright" "Kelvanor"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kelvanor"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The setup runs as an administrator: what it started itself would run with
; the administrator's rights and %APPDATA% (on a PC where a standard user
; typed an administrator's password, another user's settings). The desktop's
; shell starts Kelvanor and opens LIESMICH.txt instead, as the user at the
; desktop; where it cannot, nothing is started.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Kelvanor starten"
!define MUI_FINISHPAGE_RUN_FUNCTION StartKelvanor
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "LIESMICH (erste Schritte) anzeigen"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION ShowReadme
!insertmacro MUI_PAGE_FINISH
!define MUI_UNCONFIRMPAGE_TEXT_TOP "Kelvanor wird von diesem Computer entfernt. Ihre Einstellungen und Daten im Ordner %APPDATA%\dasTessavor (Kelvanor.ini, die Dateien für das Mobilgerät, die Sicherungen) bleiben erhalten, ebenso dasTessavor und seine Praxis-Datenbank."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; Opens $0 through the desktop's shell (start_as_user.exe), as the user at
; the desktop; $1 names it for the message when the shell cannot.
Function OpenAsDesktopUser
  InitPluginsDir
  File "/oname=$PLUGINSDIR\start_as_user.exe" "${START_AS_USER}"
  ExecWait '"$PLUGINSDIR\start_as_user.exe" "$0"' $2
  ${If} $2 != 0
    MessageBox MB_OK|MB_ICONINFORMATION "$1 konnte nicht für Sie geöffnet werden. Sie finden es im Startmenü im Ordner Kelvanor."
  ${EndIf}
FunctionEnd

Function StartKelvanor
  StrCpy $0 "$INSTDIR\Kelvanor.exe"
  StrCpy $1 "Kelvanor"
  Call OpenAsDesktopUser
FunctionEnd

Function ShowReadme
  StrCpy $0 "$INSTDIR\LIESMICH.txt"
  StrCpy $1 "LIESMICH"
  Call OpenAsDesktopUser
FunctionEnd

Section "Kelvanor" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${PACKAGE_DIR}/Kelvanor.exe"
  File "${PACKAGE_DIR}/kelvanor-cli.exe"
  File "${PACKAGE_DIR}/curl.exe"
  File "${PACKAGE_DIR}/zip.exe"
  File "${PACKAGE_DIR}/unzip.exe"
  File "${PACKAGE_DIR}/LIESMICH.txt"
  WriteUninstaller "$INSTDIR\Deinstallieren.exe"

  ; The shortcuts start in the program folder (SetOutPath above), where
  ; Kelvanor finds curl.exe, zip.exe and unzip.exe first.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\Kelvanor"
  CreateShortcut "$SMPROGRAMS\Kelvanor\Kelvanor.lnk" "$INSTDIR\Kelvanor.exe" "" "$INSTDIR\Kelvanor.exe" 0
  CreateShortcut "$SMPROGRAMS\Kelvanor\LIESMICH.lnk" "$INSTDIR\LIESMICH.txt"
  CreateShortcut "$SMPROGRAMS\Kelvanor\Kelvanor deinstallieren.lnk" "$INSTDIR\Deinstallieren.exe"

  WriteRegStr HKLM "Software\Kelvanor" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kelvanor"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelvanor"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kelvanor.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Deinstallieren.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Deinstallieren.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\Kelvanor.exe"
  Delete "$INSTDIR\kelvanor-cli.exe"
  Delete "$INSTDIR\curl.exe"
  Delete "$INSTDIR\zip.exe"
  Delete "$INSTDIR\unzip.exe"
  Delete "$INSTDIR\LIESMICH.txt"
  Delete "$INSTDIR\Deinstallieren.exe"
  RMDir "$INSTDIR"

  SetShellVarContext all
  Delete "$SMPROGRAMS\Kelvanor\Kelvanor.lnk"
  Delete "$SMPROGRAMS\Kelvanor\LIESMICH.lnk"
  Delete "$SMPROGRAMS\Kelvanor\Kelvanor deinstallieren.lnk"
  RMDir "$SMPROGRAMS\Kelvanor"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Kelvanor"
SectionEnd
