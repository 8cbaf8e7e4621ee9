; Lumivane's installer for Windows: the lighting service, the control panel and the
; companion closer in one folder under Program Files, the service registered and
; running, a Start-menu entry for the panel, and an uninstaller that reverses it all
; but the user's settings (unless asked).
;
; Built by the Windows presets (packaging/windows/CMakeLists.txt):
;   makensis -DVERSION=1.2.3 -DTARGET=x86-unicode|amd64-unicode -DOUTFILE=setup.exe
;            -DSERVICE_EXE=... -DPANEL_EXE=... -DCLOSER_DLL=... -DPANEL_SETTINGS=...
;            lumivane.nsi

Unicode true
Target ${TARGET}
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Lumivane"
!define PUBLISHER "Lumivane"
!define SERVICE_NAME "Vantor LED Control Service"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumivane"
!define SHORTCUT "$SMPROGRAMS\Lumivane.lnk"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
!if ${TARGET} == amd64-unicode
    InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
    InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
; An upgrade goes where the last installation went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\viruv.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Open the Lumivane control panel"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_COMPONENTSPAGE_TEXT_TOP "Your lighting settings stay unless you tick them: \
a later installation then starts with the effects you chose."
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; The service, the COM registration and the Start menu belong to the whole machine:
; without administrator rights (no UAC, or a standard account) there is nothing to
; do but say so.
!macro REQUIRE_ADMIN
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
        MessageBox MB_ICONSTOP "Administrator rights are needed to change Lumivane's \
installation." /SD IDOK
        SetErrorLevel 740 ; the system's "elevation required"
        Quit
    ${EndIf}
    SetShellVarContext all
!macroend

; The service's process ends just after it tells the service manager it has stopped;
; its program can be replaced or deleted only once that process has let go of it.
!macro WAIT_FOR_SERVICE_PROGRAM un
Function ${un}WaitForServiceProgram
    ${IfNot} ${FileExists} "$INSTDIR\Lumivane.exe"
        Return
    ${EndIf}
    StrCpy $R0 0
    ${Do}
        ClearErrors
        FileOpen $R1 "$INSTDIR\Lumivane.exe" a
        ${IfNot} ${Errors}
            FileClose $R1
            ${Break}
        ${EndIf}
        IntOp $R0 $R0 + 1
        ${If} $R0 >= 150
            DetailPrint "Lumivane.exe is still in use"
            ${Break}
        ${EndIf}
        Sleep 100
    ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_FOR_SERVICE_PROGRAM ""
!insertmacro WAIT_FOR_SERVICE_PROGRAM "un."

; The panel runs as the user, without elevation, and keeps its last choice in the
; file beside it: the Users group may modify that one file (read, write, delete:
; 0x1301BF), while the folder and everything else in it keep what Program Files
; gives them. The explicit entry joins the inherited ones. Without it the lighting
; still works but the panel forgets its choice: the installation goes on and ends
; with the system's error code.
Function GrantUsersModify
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(\
w "D:(A;;0x1301bf;;;BU)", i 1, *p .r1, p 0) i .r0'
    ${If} $0 == 0
        DetailPrint "Could not make lightingControl.xml writable for Users"
        SetErrorLevel 1
        Return
    ${EndIf}
    System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r2, *p .r3, *i .r4) i .r0'
    ; SE_FILE_OBJECT; DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION
    System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR\lightingControl.xml", \
i 1, i 0x20000004, p 0, p 0, p r3, p 0) i .r0'
    ${If} $0 != 0
        DetailPrint "Could not make lightingControl.xml writable for Users (error $0)"
        SetErrorLevel $0
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r1)'
FunctionEnd

Function .onInit
    !insertmacro REQUIRE_ADMIN
FunctionEnd

Function un.onInit
    !insertmacro REQUIRE_ADMIN
FunctionEnd

Section "Lumivane" SecLumivane
    SectionIn RO
    SetOutPath "$INSTDIR"

    ; An upgrade: the installed program takes its service and its class away (and
    ; waits for the service to stop), so that its files can be replaced.
    ${If} ${FileExists} "$INSTDIR\Lumivane.exe"
        DetailPrint "Removing the installed service"
        ExecWait '"$INSTDIR\Lumivane.exe" /UnregServer' $0
        Call WaitForServiceProgram
    ${EndIf}

    File "${SERVICE_EXE}"
    File "${PANEL_EXE}"
    File "${CLOSER_DLL}"
    ; The user's settings survive an upgrade: the panel's file is made only when
    ; missing, the service's own Lighting.xml is never shipped.
    SetOverwrite off
    File "/oname=lightingControl.xml" "${PANEL_SETTINGS}"
    SetOverwrite on
    Call GrantUsersModify

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateShortcut "${SHORTCUT}" "$INSTDIR\viruv.exe" "" "$INSTDIR\viruv.exe" 0 \
        SW_SHOWNORMAL "" "Lumivane control panel"

    DetailPrint "Registering the service"
    ExecWait '"$INSTDIR\Lumivane.exe" /Service' $0
    ${If} $0 != 0
        MessageBox MB_ICONSTOP "Lumivane.exe /Service failed with $0." /SD IDOK
        SetErrorLevel $0
        Abort "Lumivane.exe /Service failed with $0"
    ${EndIf}
    ; A machine under load can let the service manager's wait for a new process run
    ; out: another try finds the program in the cache (1056: it did come up).
    StrCpy $R0 0
    ${Do}
        nsExec::ExecToLog '"$SYSDIR\sc.exe" start "${SERVICE_NAME}"'
        Pop $0
        ${If} $0 == 1056
            StrCpy $0 0
        ${EndIf}
        IntOp $R0 $R0 + 1
        ${If} $0 == 0
        ${OrIf} $R0 >= 3
            ${Break}
        ${EndIf}
        Sleep 2000
    ${Loop}
    ${If} $0 != 0
        MessageBox MB_ICONSTOP "The service did not start ($0)." /SD IDOK
        ${If} $0 == "error"
            StrCpy $0 1
        ${EndIf}
        SetErrorLevel $0
        Abort "The service did not start ($0)"
    ${EndIf}

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\viruv.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "un.Lumivane" UnSecLumivane
    SectionIn RO
    DetailPrint "Stopping the service"
    nsExec::ExecToLog '"$SYSDIR\sc.exe" stop "${SERVICE_NAME}"'
    Pop $0
    ; Waits for the stop, deletes the service and takes the class away.
    ExecWait '"$INSTDIR\Lumivane.exe" /UnregServer' $0
    ${If} $0 != 0
        DetailPrint "Lumivane.exe /UnregServer failed with $0"
        SetErrorLevel 3
    ${EndIf}
    Call un.WaitForServiceProgram

    Delete "$INSTDIR\Lumivane.exe"
    Delete "$INSTDIR\viruv.exe"
    Delete "$INSTDIR\Haltmod.dll"
    Delete "$INSTDIR\Uninstall.exe"
    Delete "${SHORTCUT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; Only when empty: kept settings keep their folder.
    RMDir "$INSTDIR"
SectionEnd

Section /o "un.Your lighting settings" UnSecSettings
    Delete "$INSTDIR\Lighting.xml"
    Delete "$INSTDIR\lightingControl.xml"
    RMDir "$INSTDIR"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${UnSecLumivane} "The service, the control panel, \
the closer library, the Start-menu entry and the uninstall entry."
    !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} "Lighting.xml (the service's \
effect) and lightingControl.xml (the panel's last choice)."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
