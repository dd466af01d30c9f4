; The Windows setup program of Harnwick Live, made by scripts/package.sh:
;   makensis -DVERSION=1.0.0 -DARCH=win64|win32 -DFILES=<folder> -DFILELIST=<files.nsh> -DOUTFILE=<setup.exe> installer.nsi
; <folder> holds the product's files; <files.nsh> names them in the macro
; ProductFiles (package.sh writes it from its one list). The win64 setup is a
; 64-bit program itself, so the 64-bit registry, Program Files and regsvr32
; are its own; the win32 setup gets the 32-bit ones the same way.
; Silent: /S (install, uninstall); the uninstaller's /REMOVESETTINGS also
; removes the user's settings.
Unicode true
!if "${ARCH}" == "win64"
  Target amd64-unicode
  !define PROGRAMS_FOLDER "$PROGRAMFILES64"
!else
  Target x86-unicode
  !define PROGRAMS_FOLDER "$PROGRAMFILES32"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh

!define PRODUCT "Harnwick Live"
!define MAKER "Quillmark Labs"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\HarnwickLive"
!define PRODUCT_KEY "SOFTWARE\${MAKER}\${PRODUCT}"
!define SETTINGS_KEY "${PRODUCT_KEY}\Settings"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"
!include "${FILELIST}"
!macro InstallFile name
  File "${FILES}/${name}"
!macroend
!macro RemoveFile name
  Delete "$INSTDIR\${name}"
!macroend

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAMS_FOLDER}\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${MAKER}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Unregisters both servers and removes the files and the Start menu entries;
; shared by the uninstaller and by a setup that stops half-way.
!macro RemoveProduct un
  Function ${un}RemoveProduct
    ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\HarnwickLive.dll"' $0
    ExecWait '"$SYSDIR\regsvr32.exe" /s /u "$INSTDIR\HarnwickAmp.dll"' $1
    DetailPrint "Unregistering: HarnwickLive.dll $0, HarnwickAmp.dll $1"
    !insertmacro ProductFiles RemoveFile
    ; The plug-in's last sound, written beside the program at the end of each session.
    Delete "$INSTDIR\Default Live setting"
    Delete "$INSTDIR\Uninstall.exe"
    SetOutPath "$TEMP"  ; a folder in use as the current one cannot be removed
    RMDir "$INSTDIR"
    Delete "${MENU_FOLDER}\${PRODUCT}.lnk"
    Delete "${MENU_FOLDER}\${PRODUCT} manual.lnk"
    Delete "${MENU_FOLDER}\${PRODUCT} latency check.lnk"
    Delete "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk"
    RMDir "${MENU_FOLDER}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  FunctionEnd
!macroend
!insertmacro RemoveProduct ""
!insertmacro RemoveProduct "un."

!macro RegisterServer dll
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\${dll}"' $0
  ${If} $0 != 0
    MessageBox MB_OK|MB_ICONSTOP "${dll} could not be registered (regsvr32 ended with code $0).$\r$\n$\r$\n${PRODUCT} was not installed. Please run this setup as an administrator." /SD IDOK
    Call RemoveProduct
    SetErrorLevel 3
    Quit
  ${EndIf}
!macroend

; Standard users keep their settings under HKEY_LOCAL_MACHINE like an
; administrator does: the settings key gets read and write access for the
; Users group (system and administrators keep full control).
Function OpenSettingsToUsers
  System::Call 'advapi32::RegCreateKeyExW(p 0x80000002, w "${SETTINGS_KEY}", i 0, p 0, i 0, i 0x60019, p 0, *p .r1, p 0) i .r0'
  ${If} $0 != 0
    DetailPrint "The settings key could not be created (error $0)"
    Return
  ${EndIf}
  System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:(A;CI;0xf003f;;;SY)(A;CI;0xf003f;;;BA)(A;CI;0x2001f;;;BU)", i 1, *p .r2, p 0) i .r0'
  ${If} $0 != 0
    System::Call 'advapi32::RegSetKeySecurity(p r1, i 4, p r2) i .r0'
    System::Call 'kernel32::LocalFree(p r2)'
    DetailPrint "Settings key opened to the Users group (result $0)"
  ${EndIf}
  System::Call 'advapi32::RegCloseKey(p r1)'
FunctionEnd

Function .onInit
  SetShellVarContext all
FunctionEnd

Section "${PRODUCT}" SecProduct
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro ProductFiles InstallFile
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  !insertmacro RegisterServer "HarnwickLive.dll"
  !insertmacro RegisterServer "HarnwickAmp.dll"
  Call OpenSettingsToUsers

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\${PRODUCT}.lnk" "$INSTDIR\HarnwickLive.exe"
  CreateShortcut "${MENU_FOLDER}\${PRODUCT} manual.lnk" "$INSTDIR\manual_live.pdf"
  CreateShortcut "${MENU_FOLDER}\${PRODUCT} latency check.lnk" "$INSTDIR\HarnwickLatency.exe"
  CreateShortcut "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\HarnwickLive.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "un.${PRODUCT}" UnSecProduct
  SectionIn RO
  Call un.RemoveProduct
SectionEnd

; Unticked by default: the settings stay for a later installation.
Section /o "un.Remove my settings" UnSecSettings
  DeleteRegKey HKLM "${PRODUCT_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\${MAKER}"
SectionEnd

; After the sections: it selects one of them.
Function un.onInit
  SetShellVarContext all
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecSettings}
  ${EndIf}
FunctionEnd
