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
!include "FileFunc.nsh"

; A file that cannot be written is an error, never skipped: "Ignorieren"
; would end on a page saying "installiert" with the old program left.
AllowSkipFiles off

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

; Windows keeps a running program's file from being written: a Kelvanor
; still open (the window, or a scheduled kelvanor-cli) would stop the copy
; half-way, or stay behind after the uninstall. Asks until it is closed, or
; ends when the user cancels (silently: ends at once, exit code 2).
!macro WAIT_FOR_KELVANOR_CLOSED UN
Function ${UN}WaitForKelvanorClosed
  Push $0
  Push $1
  again:
  StrCpy $1 ""
  ${If} ${FileExists} "$INSTDIR\Kelvanor.exe"
    ClearErrors
    FileOpen $0 "$INSTDIR\Kelvanor.exe" a
    ${If} ${Errors}
      StrCpy $1 "Kelvanor"
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
  ${If} $1 == ""
  ${AndIf} ${FileExists} "$INSTDIR\kelvanor-cli.exe"
    ClearErrors
    FileOpen $0 "$INSTDIR\kelvanor-cli.exe" a
    ${If} ${Errors}
      StrCpy $1 "kelvanor-cli (eine geplante Synchronisation)"
    ${Else}
      FileClose $0
    ${EndIf}
  ${EndIf}
  ${If} $1 != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$1 läuft noch.$\r$\n$\r$\nBitte Kelvanor schließen (Knopf $\"Schliessen$\") bzw. die Synchronisation zu Ende laufen lassen und dann $\"Wiederholen$\" wählen." /SD IDCANCEL IDRETRY again
    SetErrorLevel 2
    Quit
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro WAIT_FOR_KELVANOR_CLOSED ""
!insertmacro WAIT_FOR_KELVANOR_CLOSED "un."

Function .onInit
  SetRegView 64
  ; An update over an installed Kelvanor: asked before the first page.
  Call WaitForKelvanorClosed
FunctionEnd

Function un.onInit
  SetRegView 64
  Call un.WaitForKelvanorClosed
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
  ; The folder may have been chosen on the way, or Kelvanor started since.
  Call WaitForKelvanorClosed
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
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Call un.WaitForKelvanorClosed
  Delete "$INSTDIR\Kelvanor.exe"
  Delete "$INSTDIR\kelvanor-cli.exe"
  Delete "$INSTDIR\curl.exe"
  Delete "$INSTDIR\zip.exe"
  Delete "$INSTDIR\unzip.exe"
  Delete "$INSTDIR\LIESMICH.txt"
  Delete "$INSTDIR\Deinstallieren.exe"
  RMDir "$INSTDIR"
  ; Whatever stayed (held open by a program started meanwhile) is said, and
  ; the uninstall does not report success: the entry stays, to run it again.
  ${If} ${FileExists} "$INSTDIR\Kelvanor.exe"
  ${OrIf} ${FileExists} "$INSTDIR\kelvanor-cli.exe"
    MessageBox MB_OK|MB_ICONSTOP "Kelvanor konnte nicht vollständig entfernt werden: Im Ordner $INSTDIR sind noch Dateien in Gebrauch. Bitte Kelvanor schließen und die Deinstallation erneut starten." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}

  SetShellVarContext all
  Delete "$SMPROGRAMS\Kelvanor\Kelvanor.lnk"
  Delete "$SMPROGRAMS\Kelvanor\LIESMICH.lnk"
  Delete "$SMPROGRAMS\Kelvanor\Kelvanor deinstallieren.lnk"
  RMDir "$SMPROGRAMS\Kelvanor"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Kelvanor"
SectionEnd
