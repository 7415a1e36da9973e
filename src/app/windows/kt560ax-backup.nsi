; The Windows installer of both programs, built by scripts/windows:
;   makensis -DVERSION=2.0 -DSTAGE=FOLDER -DICON=FILE -DOUTFILE=SETUP kt560ax-backup.nsi
; FOLDER holds what the zip holds. It installs into Program Files for every
; user, with Start-menu entries for the window and for a command prompt
; that finds kt560ax, and an uninstaller listed among the installed
; programs; /S installs or uninstalls silently. No Language.ini goes beside
; the programs: each user's first start makes the user's own from the one
; built in, and it stays, as the job log does, when the programs go.
Target amd64-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"

!define NAME "KT560AX Data Backup System"
!define FOLDER "KT560AX Backup"
!define UNINSTALL "Software\Microsoft\Windows\CurrentVersion\Uninstall\KT560AXBackup"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${FOLDER}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "TradChinese"
!insertmacro MUI_LANGUAGE "SimpChinese"

; The 64-bit registry, and the Start menu of all users.
!macro everyUser
    SetRegView 64
    SetShellVarContext all
!macroend
Function .onInit
    !insertmacro everyUser
FunctionEnd
Function un.onInit
    !insertmacro everyUser
FunctionEnd

Section
    SetOutPath "$INSTDIR"
    File /r /x Language.ini "${STAGE}\*.*"
    File kt560ax-prompt.cmd
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateDirectory "$SMPROGRAMS\${FOLDER}"
    CreateShortcut "$SMPROGRAMS\${FOLDER}\KT560AX Backup.lnk" "$INSTDIR\kt560ax-backup.exe"
    CreateShortcut "$SMPROGRAMS\${FOLDER}\KT560AX Command Prompt.lnk" "$SYSDIR\cmd.exe" \
        '/k ""$INSTDIR\kt560ax-prompt.cmd""' "$SYSDIR\cmd.exe"
    WriteRegStr HKLM "${UNINSTALL}" "DisplayName" "${NAME}"
    WriteRegStr HKLM "${UNINSTALL}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL}" "DisplayIcon" "$INSTDIR\kt560ax-backup.exe"
    WriteRegStr HKLM "${UNINSTALL}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL}" "EstimatedSize" $0
SectionEnd

; Only what the installer put there goes: a file of the user's in the
; folder keeps it.
Section "Uninstall"
    Delete "$SMPROGRAMS\${FOLDER}\KT560AX Backup.lnk"
    Delete "$SMPROGRAMS\${FOLDER}\KT560AX Command Prompt.lnk"
    RMDir "$SMPROGRAMS\${FOLDER}"
    Delete "$INSTDIR\*.exe"
    Delete "$INSTDIR\*.dll"
    Delete "$INSTDIR\qt.conf"
    Delete "$INSTDIR\kt560ax-prompt.cmd"
    RMDir /r "$INSTDIR\platforms"
    RMDir /r "$INSTDIR\styles"
    RMDir /r "$INSTDIR\translations"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL}"
SectionEnd
