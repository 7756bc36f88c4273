; The Windows setup program: installs the folder that ./scripts/windows builds, for all users
; (Program Files, elevated) or for the operator alone (no elevation), with a Start menu entry,
; an optional desktop shortcut and start at logon, and an uninstaller under Apps & features.
; The operator's options (HKCU\Software\VB and VBA Program Settings\KELD) are never touched.
;
; A 64-bit setup for a 64-bit program; Wine without its 32-bit part runs it too.
; makensis -DVERSION=1.0 -DDIST=<folder> -DLICENCE=<text> -DFILES=<uninstall list>
;          -DWINDOW_TITLE=<the utility's window title> -DICON=<.ico> -DOUTFILE=<setup.exe>
;
; Command line: /S silent, /D=FOLDER (last, unquoted), /AllUsers or /CurrentUser, and for
; scripted stations /DESKTOP and /LOGON (the optional shortcuts).

Target amd64-unicode
SetCompressor /SOLID lzma

!define APP "zolvek-ptt"
!define NAME "ZOLVEK FT-847 PTT"
!define PUBLISHER "The zolvek-ptt developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"
!define SHORTCUT "${NAME}.lnk"

Name "${NAME}"
OutFile "${OUTFILE}"
BrandingText "${APP} ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${APP}"
; An upgrade finds the earlier install's mode and folder where the uninstaller is registered.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh
!include x64.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\zolvek-ptt.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${NAME} now"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENCE}"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "2026 ${PUBLISHER}"

; The utility holds the radio's only port: replacing or removing it while it runs would leave
; the radio to whatever Windows does with a vanished program's port.
!macro RefuseWhileRunning
  FindWindow $0 "" "${WINDOW_TITLE}"
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "${NAME} is running and holds the radio's serial port.$\r$\n\
      Close it first (its window's close button, or zolvek-send exit), then run this again." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
!macroend

Section "${NAME}" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File /r "${DIST}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\zolvek-ptt.exe" "" "$INSTDIR\zolvek-ptt.exe" 0

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zolvek-ptt.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section /o "Desktop shortcut" SecDesktop
  CreateShortcut "$DESKTOP\${SHORTCUT}" "$INSTDIR\zolvek-ptt.exe" "" "$INSTDIR\zolvek-ptt.exe" 0
SectionEnd

; No switch of its own: the utility starts minimized when "Run Minimized" is ticked in it.
Section /o "Start at logon" SecLogon
  CreateShortcut "$SMSTARTUP\${SHORTCUT}" "$INSTDIR\zolvek-ptt.exe" "" "$INSTDIR\zolvek-ptt.exe" 0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "The utility, zolvek-send, the virtual radio and a Start menu entry."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecDesktop} "A shortcut on the desktop."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecLogon} "Start the utility when you log on (minimized if Run Minimized is ticked in it)."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  !insertmacro RefuseWhileRunning
  SetRegView 64
  ; MultiUser chooses the default folder; a /D= given on the command line wins over it.
  StrCpy $R9 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $R9 != ""
    StrCpy $INSTDIR $R9
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/DESKTOP" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/LOGON" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecLogon}
  ${EndIf}
  ; An upgrade keeps the shortcuts the earlier install made.
  ${If} ${FileExists} "$DESKTOP\${SHORTCUT}"
    !insertmacro SelectSection ${SecDesktop}
  ${EndIf}
  ${If} ${FileExists} "$SMSTARTUP\${SHORTCUT}"
    !insertmacro SelectSection ${SecLogon}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro RefuseWhileRunning
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Exactly what the setup put there; the folder goes only if nothing else is left in it.
Section "Uninstall"
  SetOutPath "$TEMP" ; out of the folder, so that it can go
  !include "${FILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$DESKTOP\${SHORTCUT}"
  Delete "$SMSTARTUP\${SHORTCUT}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
