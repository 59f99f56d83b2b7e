; KavrinInstaller.exe: installs OrumaVPN into the program files folder for all users.
;
; scripts/package builds it; it defines STAGE, the folder holding the Kavrin.exe and
; KavrinBind.dll and KavrinBind64.dll to ship and the component.nsh written for the "openvpn" component folder
; (empty macros when there is none), and OUTFILE:
;   makensis -INPUTCHARSET UTF8 -DSTAGE=DIR -DOUTFILE=FILE installer/kavrin.nsi
;
; It also defines PLUGINS, the folder holding KavrinSetup.dll, our plug-in (installer/plugin)
; for the folder's protection and the running check.
;
; The version shown, recorded in the uninstall entry and carried in this installer's own
; version resource is read from Kavrin.exe's version resource.
;
; Command line: /S installs silently, /D=FOLDER (last, unquoted) picks the folder.
; Exit codes: 0 installed; 1 cancelled by the user; 2 aborted (the program kept running);
; 3 installed, but the binding module could not be registered; 4 the folder could not be made
; one only administrators may change (it is a link, holds links, or keeps others' rights);
; 740 no administrator rights.
; The uninstaller (uninst.exe in the installed folder) takes /S as well; it exits with 5 when an
; entry of the binding module may be left in a catalog, and then keeps the module files.

Unicode true
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma
; Files carry no build-machine times, so the same build always gives the same installer.
SetDateSave off

!ifndef STAGE
  !error "STAGE is not defined: build the installer with scripts/package"
!endif
!ifndef PLUGINS
  !error "PLUGINS is not defined: build the installer with scripts/package"
!endif
!addplugindir /x86-unicode "${PLUGINS}"
!ifndef OUTFILE
  !define OUTFILE "KavrinInstaller.exe"
!endif

; With SIGN (scripts/package --sign), the program that signs a file in place: the installer
; once written and the uninstaller before it is packed into the installer; SIGNED_UNINSTALLER
; is where a copy of the signed uninstaller goes, for checking.
!ifdef SIGN
  !finalize '"${SIGN}" "%1"' = 0
  !uninstfinalize '"${SIGN}" "%1" "${SIGNED_UNINSTALLER}"' = 0
!endif

!getdllversion "${STAGE}/Kavrin.exe" KAVRIN_VERSION_
!define VERSION "${KAVRIN_VERSION_1}.${KAVRIN_VERSION_2}.${KAVRIN_VERSION_3}.${KAVRIN_VERSION_4}"

!define PRODUCT "OrumaVPN"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrumaVPN"
!define UNINSTALLER "uninst.exe"
!define BIND_KEY "SOFTWARE\Kavrin\Bind"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "x64.nsh"
!include "${STAGE}/component.nsh"

; The program finds its running instance by a dialog captioned exactly "OrumaVPN"; with the
; version after the name, the captions of these windows ("OrumaVPN 2.1.0.0 安装") never match.
Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

!define MUI_ICON "${__FILEDIR__}/../res/icons/kavrin.ico"
!define MUI_UNICON "${__FILEDIR__}/../res/icons/kavrin.ico"
; Drawn by art/draw.py.
!define MUI_WELCOMEFINISHPAGE_BITMAP "${__FILEDIR__}/art/wizard.bmp"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${__FILEDIR__}/art/wizard.bmp"
!define MUI_ABORTWARNING

; Every page keeps the window's caption as it is on the first ("OrumaVPN 2.1.0.0 安装"); the
; wizard would add a blank after it on the later pages, which tools looking for the window trip on.
!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_SHOW KeepSetupCaption
!insertmacro MUI_PAGE_DIRECTORY
!define MUI_PAGE_CUSTOMFUNCTION_SHOW KeepSetupCaption
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\Kavrin.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(RunProgram)"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW KeepSetupCaption
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "$(UninstallKeepsSettings)"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.KeepSetupCaption
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.KeepSetupCaption
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_SHOW un.KeepSetupCaption
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "SimpChinese"
!include "${__FILEDIR__}/texts_zh.nsh"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"

; The installer and the uninstaller each need their own copy ("un." names).
!macro DefineStartFunctions un
  Function ${un}RequireAdministrator
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "admin"
      MessageBox MB_OK|MB_ICONSTOP "$(NeedAdministrator)" /SD IDOK
      SetErrorLevel 740
      Quit
    ${EndIf}
    ; Shortcuts go to every user's Start menu and desktop, as the program goes to every user.
    SetShellVarContext all
  FunctionEnd

  ; $R0 = 1 while the program runs: its instance object exists where only an administrator can
  ; have made it, or a main window of the installed Kavrin.exe is there (a window of any other
  ; program with our caption does not count). An object a user made under the program's global
  ; name is noted and ignored: obeying it would let any user block every installation and
  ; update.
  Function ${un}IsProgramRunning
    StrCpy $R0 0
    KavrinSetup::IsProgramRunning "$INSTDIR\Kavrin.exe"
    Pop $0
    ${If} $0 == "running"
      StrCpy $R0 1
    ${ElseIf} $0 == "squatted"
    ${AndIf} $R8 != "noted"
      DetailPrint "$(ProgramNameHeld)"
      StrCpy $R8 "noted"
    ${EndIf}
  FunctionEnd

  ; Files of a running program cannot be replaced. The online update starts the installer and
  ; then closes the program, so it gets ten seconds to go before the user is asked.
  Function ${un}WaitForProgramExit
    StrCpy $R1 0
    ${Do}
      Call ${un}IsProgramRunning
      ${If} $R0 = 0
        Return
      ${EndIf}
      ${If} $R1 = 0
        DetailPrint "$(WaitingForProgram)"
      ${EndIf}
      ${If} $R1 >= 20
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(ProgramStillRunning)" /SD IDCANCEL IDRETRY +3
        SetErrorLevel 2
        Abort "$(ProgramStillRunningAbort)"
        StrCpy $R1 0
      ${EndIf}
      IntOp $R1 $R1 + 1
      Sleep 500
    ${Loop}
  FunctionEnd
!macroend
!insertmacro DefineStartFunctions ""
!insertmacro DefineStartFunctions "un."

Function KeepSetupCaption
  SendMessage $HWNDPARENT ${WM_SETTEXT} 0 "STR:$(^SetupCaption)"
FunctionEnd

Function un.KeepSetupCaption
  SendMessage $HWNDPARENT ${WM_SETTEXT} 0 "STR:$(^UninstallCaption)"
FunctionEnd

Function .onInit
  Call RequireAdministrator
FunctionEnd

Function un.onInit
  Call un.RequireAdministrator
FunctionEnd

; The program's "/register" reports in a message box, which a silent run must not show (it would
; wait for a click nobody makes); there the module's own entry point does the same work: it
; registers over what is there, completing and correcting the set in place (never taking it out
; first, which would break other providers layered over it). On 64-bit Windows the 32-bit
; module's registration also registers KavrinBind64.dll in the 64-bit catalog (and its
; unregistration unregisters it), so both are done by this one call.
Function RegisterBindModule
  ${If} ${Silent}
    KavrinSetup::RegisterModule "$INSTDIR\KavrinBind.dll"
    Pop $R8
    ${If} $R8 != "ok"
      DetailPrint "$(RegistrationFailed)"
      SetErrorLevel 3
    ${EndIf}
  ${Else}
    ExecWait '"$INSTDIR\Kavrin.exe" /register'
    ; What the program reported is in its box; whether the catalogs name the usual file now is
    ; what decides if the versioned one may go.
    KavrinSetup::RegisterModule "$INSTDIR\KavrinBind.dll"
    Pop $R8
  ${EndIf}
FunctionEnd

; Nearly every process that opened a socket holds the binding modules loaded, and a loaded file
; cannot be overwritten, but it can be renamed: the old file is moved aside under a name of its
; own and deleted (at the next restart while still in use), so the new one takes the registered
; name. Processes started from then on load the new module; running ones keep the old until they
; end.
!macro SetModuleAside NAME
  StrCpy $R9 0
  ${Do}
    Delete "$INSTDIR\${NAME}.$R9.old"
    ${IfNot} ${FileExists} "$INSTDIR\${NAME}.$R9.old"
      ${ExitDo}
    ${EndIf}
    IntOp $R9 $R9 + 1
  ${LoopUntil} $R9 >= 32
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    Rename "$INSTDIR\${NAME}" "$INSTDIR\${NAME}.$R9.old"
    Delete /REBOOTOK "$INSTDIR\${NAME}.$R9.old"
  ${EndIf}
!macroend

; The catalogs must never name a module file that is not there: every socket on the machine
; would fail. So the new modules go in first under names of their own, and their registration
; switches every entry of ours to them in place (in both catalogs); only then are the usual names
; set aside and filled, and registered again. A step that fails leaves the catalogs naming files
; that are there: the old modules stay while the versioned ones are not registered, and the
; versioned ones stay while the usual names are not.
!define VERSIONED_BIND "KavrinBind.${VERSION}.dll"
!define VERSIONED_BIND64 "KavrinBind64.${VERSION}.dll"

Function InstallBindModules
  File "/oname=${VERSIONED_BIND}" "${STAGE}/KavrinBind.dll"
  ${If} ${RunningX64}
    File "/oname=${VERSIONED_BIND64}" "${STAGE}/KavrinBind64.dll"
  ${EndIf}
  KavrinSetup::RegisterModule "$INSTDIR\${VERSIONED_BIND}"
  Pop $R8
  ; An earlier module the versioned one could not take over from may still be registered.
  ${If} $R8 != "ok"
  ${AndIf} ${FileExists} "$INSTDIR\KavrinBind.dll"
    DetailPrint "$(RegistrationFailed) ($R8)"
    SetErrorLevel 3
    Return
  ${EndIf}
  ClearErrors
  !insertmacro SetModuleAside KavrinBind.dll
  File "${STAGE}/KavrinBind.dll"
  ; 64-bit programs load only 64-bit modules.
  ${If} ${RunningX64}
    !insertmacro SetModuleAside KavrinBind64.dll
    File "${STAGE}/KavrinBind64.dll"
  ${EndIf}
  ${If} ${Errors}
    SetErrorLevel 3
    Return
  ${EndIf}
  Call RegisterBindModule
  ${If} $R8 == "ok"
    ; Registered under the usual names again: nothing names the versioned ones any more.
    Delete /REBOOTOK "$INSTDIR\${VERSIONED_BIND}"
    Delete /REBOOTOK "$INSTDIR\${VERSIONED_BIND64}"
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SectionProgram
  SectionIn RO
  Call WaitForProgramExit

  ; Before anything is copied: the folder is made here under parents only administrators may
  ; change, or is the administrators' own already, or nothing is installed. Outside the program
  ; files folder a folder inherits "Authenticated Users: Modify", and every program loads the
  ; binding module from here.
  KavrinSetup::ProtectFolder "$INSTDIR"
  Pop $0
  ${If} $0 != "ok"
    DetailPrint "$(FolderNotProtected) ($0)"
    MessageBox MB_OK|MB_ICONSTOP "$(FolderNotProtected)" /SD IDOK
    SetErrorLevel 4
    Abort "$(FolderNotProtected)"
  ${EndIf}

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${STAGE}/Kavrin.exe"
  !insertmacro InstallComponent
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\Kavrin.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\$(UninstallShortcut).lnk" "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\Kavrin.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kavrin.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  Call InstallBindModules
SectionEnd

; Removes what the installer put there and nothing else: the per-user settings, the program data
; folder and any file the user added to the program folder stay.
Section "Uninstall"
  Call un.WaitForProgramExit

  ${IfNot} ${Silent}
    ExecWait '"$INSTDIR\Kavrin.exe" /unregister'
  ${EndIf}
  ; The modules go only once nothing of ours is left in the catalogs (a second unregistration
  ; finds nothing then); otherwise every socket on the machine would fail on a missing file.
  KavrinSetup::UnregisterModule "$INSTDIR\KavrinBind.dll"
  Pop $R8
  ; The record earlier versions kept instead of a real registration.
  DeleteRegValue HKLM "${BIND_KEY}" "ModulePath"
  DeleteRegKey /ifempty HKLM "${BIND_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Kavrin"

  Delete "$INSTDIR\Kavrin.exe"
  ${If} $R8 == "ok"
  ${OrIf} $R8 == "missing"
    ; A process may still hold a module; then it goes at the next restart.
    Delete /REBOOTOK "$INSTDIR\KavrinBind.dll"
    Delete /REBOOTOK "$INSTDIR\KavrinBind64.dll"
    Delete /REBOOTOK "$INSTDIR\KavrinBind.*.dll"
    Delete /REBOOTOK "$INSTDIR\KavrinBind64.*.dll"
    ; Modules an upgrade set aside while they were in use.
    Delete /REBOOTOK "$INSTDIR\KavrinBind.dll.*.old"
    Delete /REBOOTOK "$INSTDIR\KavrinBind64.dll.*.old"
  ${Else}
    DetailPrint "$(UnregistrationFailed) ($R8)"
    SetErrorLevel 5
  ${EndIf}
  !insertmacro RemoveComponent
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"

  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\$(UninstallShortcut).lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
