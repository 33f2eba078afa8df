; The Windows installer of Quillpost, built by tools/package:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.2 -DSTAGE=<programs> -DOUTFILE=<exe> tools/installer.nsi
;
; Installs the three programs and LIESMICH.txt into a folder the user
; chooses (Program Files by default). The settings live where the user can
; write them, %APPDATA%\Quillpost: the set-up program runs there and makes
; the Send-To shortcuts with that working folder, exactly as it does when a
; user runs it by hand. A start-menu entry opens the configuration window.
; The uninstaller removes all of that and keeps Quillpost.ini unless the
; user agrees to delete it. /S installs and uninstalls silently (the silent
; uninstaller keeps the settings).

Unicode false  ; the programs, their INI file and shortcut names are code page 1252
!include "MUI2.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillpost"
!define DATA "$APPDATA\Quillpost"
!define MENU_ENTRY "$SMPROGRAMS\Quillpost.lnk"

Name "Quillpost ${VERSION}"
BrandingText "Quillpost ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Quillpost"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Section "Quillpost"
  ; Settings, shortcuts and the menu entry belong to the user who installs.
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}/Quillpost.exe"
  File "${STAGE}/getsize.exe"
  File "${STAGE}/QuillpostSetup.exe"
  File "${STAGE}/LIESMICH.txt"
  WriteUninstaller "$INSTDIR\Deinstallieren.exe"

  ; The set-up program takes its current folder as the base folder.
  CreateDirectory "${DATA}"
  SetOutPath "${DATA}"
  nsExec::Exec '"$INSTDIR\QuillpostSetup.exe"'
  Pop $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "Die Verknüpfungen für $\"Senden an$\" konnten nicht angelegt werden." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ; Working folder of the entry: the current output folder, ${DATA}.
  CreateShortcut "${MENU_ENTRY}" "$INSTDIR\Quillpost.exe" "" "$INSTDIR\Quillpost.exe" 0 SW_SHOWNORMAL "" \
    "Quillpost einrichten"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillpost ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quillpost"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillpost.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Deinstallieren.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Deinstallieren.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" 2048
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; A shortcut carries its configuration's name (Upload N until renamed) and
  ; lies in the Send-To folder when active, else in the settings folder.
  ${For} $1 1 10
    ReadINIStr $2 "${DATA}\Quillpost.ini" "Set$1" "ConfigName"
    ${If} $2 != ""
      Delete "$SENDTO\FTP - $2.lnk"
      Delete "${DATA}\FTP - $2.lnk"
    ${EndIf}
    Delete "$SENDTO\FTP - Upload $1.lnk"
    Delete "${DATA}\FTP - Upload $1.lnk"
  ${Next}
  Delete "${MENU_ENTRY}"
  Delete "${DATA}\ftpdir.txt"

  Delete "$INSTDIR\Quillpost.exe"
  Delete "$INSTDIR\getsize.exe"
  Delete "$INSTDIR\QuillpostSetup.exe"
  Delete "$INSTDIR\LIESMICH.txt"
  Delete "$INSTDIR\Deinstallieren.exe"
  RMDir "$INSTDIR"

  ${If} ${FileExists} "${DATA}\Quillpost.ini"
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "Sollen auch Ihre Einstellungen (Server, Benutzer, Passwörter und Verlauf in Quillpost.ini) gelöscht werden?" \
      /SD IDNO IDNO keepSettings
    Delete "${DATA}\Quillpost.ini"
    keepSettings:
  ${EndIf}
  RMDir "${DATA}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
