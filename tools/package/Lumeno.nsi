; Lumeno's installer: per user, no administrator rights. tools/package.sh defines VERSION, STAGE (the
; folder holding the programs, the read-me and perhaps the codec), ICON, OUTFILE and, when the codec
; is bundled, WITH_CODEC.
Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumeno"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Lumeno ${VERSION}"
OutFile "${OUTFILE}"
; The settings file lives beside the program, so the folder must stay writable without elevation.
InstallDir "$LOCALAPPDATA\Programs\Lumeno"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!ifdef WITH_CODEC
  !define MUI_FINISHPAGE_TEXT "Lumeno ${VERSION} 已安装。$\r$\n$\r$\nLumeno ${VERSION} is installed."
!else
  !define MUI_FINISHPAGE_TEXT "Lumeno ${VERSION} 已安装，但安装包未附带视频编码库：请把 Xvid 1.3 版的 32 位 xvidcore.dll 放到程序所在的文件夹 $INSTDIR，否则 Lumeno 无法录像。$\r$\n$\r$\nLumeno ${VERSION} is installed without the codec: place xvidcore.dll of the Xvid 1.3 release (32-bit) in $INSTDIR, or Lumeno cannot record."
!endif
!define MUI_FINISHPAGE_RUN "$INSTDIR\Lumeno.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "Lumeno"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "Lumeno ${VERSION} 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "Copyright (C) Lumeno"

; A running Lumeno is asked to end through its own exit path, which finishes the file being written;
; it is never killed. The request goes to every top-level window, so that it reaches the main window
; (hidden while recording) and also the settings dialog of a Lumeno still in its first start, which
; has no main window yet. Then waits until the single-instance mutex is gone (at most a minute).
!macro EndRunningLumeno un
Function ${un}EndRunningLumeno
  System::Call 'user32::RegisterWindowMessageW(w "Lumeno.Exit") i .r1'
  ; HWND_BROADCAST, SMTO_ABORTIFHUNG, at most a minute for each window.
  System::Call 'user32::SendMessageTimeoutW(p 0xffff, i r1, p 0, p 0, i 2, i 60000, *p .r4)'
  StrCpy $2 0
  ${Do}
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "Local\Lumeno.SingleInstance") p .r3'
    ${If} $3 == 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r3)'
    IntOp $2 $2 + 1
    ${If} $2 > 120
      MessageBox MB_OK|MB_ICONSTOP "Lumeno 仍在运行。请在通知区域图标的右键菜单中选“退出程序”，然后重新运行本程序。"
      Quit
    ${EndIf}
    Sleep 500
  ${Loop}
FunctionEnd
!macroend
!insertmacro EndRunningLumeno ""
!insertmacro EndRunningLumeno "un."

Section "Lumeno"
  Call EndRunningLumeno
  SetOutPath "$INSTDIR"
  File "${STAGE}\*.exe"
  File "${STAGE}\ReadMe.txt"
  !ifdef WITH_CODEC
    File "${STAGE}\xvidcore.dll"
  !endif
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  SetShellVarContext current
  CreateShortCut "$SMPROGRAMS\Lumeno.lnk" "$INSTDIR\Lumeno.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Lumeno"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Lumeno"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Lumeno.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes the program, its shortcut and its start-with-Windows value; asks about the settings file;
; never touches recordings (they live in the storage folder the user chose, not here).
Section "Uninstall"
  Call un.EndRunningLumeno
  Delete "$INSTDIR\Lumeno.exe"
  Delete "$INSTDIR\LumenoVerify.exe"
  Delete "$INSTDIR\xvidcore.dll"
  Delete "$INSTDIR\ReadMe.txt"
  ${If} ${FileExists} "$INSTDIR\Lumeno.INI"
    MessageBox MB_YESNO|MB_ICONQUESTION "是否同时删除设置文件 Lumeno.INI？录像不会被删除。" /SD IDNO IDNO keep
    Delete "$INSTDIR\Lumeno.INI"
    keep:
  ${EndIf}
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  SetShellVarContext current
  Delete "$SMPROGRAMS\Lumeno.lnk"
  DeleteRegValue HKCU "${RUN_KEY}" "Lumeno"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
