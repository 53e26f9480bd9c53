; Setup package of the Cellivanta VK braille driver for JAWS (Setup.exe).
;
; Puts VK.JLB and its key map kvbrl.ini into the folder where JAWS looks for
; braille drivers of other makers, as JAWS itself records it in the registry
; (asked through Pellacore). Without that folder JAWS could never load the
; driver, so the setup then stops and installs nothing; so it does on 32-bit
; Windows, where the 64-bit driver cannot load. Runs silently with /S.
; The uninstaller removes exactly what the setup put there.
;
; vkkeys.exe, the key map checker, and vkdiag.exe, which finds the display
; and writes a report for support, go beside them.
;
; makensis -DPRODUCT_VERSION=... -DVK_JLB=... -DKVBRL_INI=... -DVKKEYS_EXE=... -DVKDIAG_EXE=... -DPELLACORE_DLL=...
;          -DSETUP_ICON=... -DOUTFILE=... [-DSIGN_FILE=command that signs the file it is given]

Unicode true
; The tool stores and starts this package under the name Setup.exe.
!pragma warning disable 9000
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestSupportedOS all

!include LogicLib.nsh
!include MUI2.nsh

; The same bytes from every build: the packed files keep no time of their own.
SetDateSave off
!ifdef SIGN_FILE
!uninstfinalize '"${SIGN_FILE}" "%1"'
!endif
!define UNINSTALLER "Uninstall Cellivanta VK.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CellivantaVK"
; Exit code when JAWS names no folder for drivers of other makers.
!define EXIT_NO_JAWS_FOLDER 2
; Exit code on 32-bit Windows, where the 64-bit driver cannot load.
!define EXIT_NEEDS_64BIT 3
; Where a silent setup writes why it stopped.
!define SETUP_LOG "$TEMP\Cellivanta VK setup.log"

Name "$(ProductName)"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

Var FolderCreated

!define MUI_ICON "${SETUP_ICON}"
!define MUI_UNICON "${SETUP_ICON}"
!define MUI_WELCOMEPAGE_TITLE "$(WelcomeTitle)"
!define MUI_WELCOMEPAGE_TEXT "$(WelcomeText)"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one used when the user's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "French"

LangString ProductName ${LANG_ENGLISH} "Cellivanta VK driver for JAWS"
LangString ProductName ${LANG_FRENCH} "Pilote Cellivanta VK pour JAWS"
LangString WelcomeTitle ${LANG_ENGLISH} "Cellivanta VK driver for JAWS"
LangString WelcomeTitle ${LANG_FRENCH} "Pilote Cellivanta VK pour JAWS"
LangString WelcomeText ${LANG_ENGLISH} "This setup installs the driver of the Cellivanta VK braille display for JAWS 10 or later.$\r$\n$\r$\nThe driver (VK.JLB) and its key map (kvbrl.ini) will be installed into the folder that JAWS uses for braille displays of other makers:$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nClose JAWS before you continue."
LangString WelcomeText ${LANG_FRENCH} "Cette installation ajoute le pilote de l'afficheur braille Cellivanta VK à JAWS 10 ou subséquent.$\r$\n$\r$\nLe pilote (VK.JLB) et son fichier de touches (kvbrl.ini) seront installés dans le dossier que JAWS utilise pour les afficheurs braille d'autres fabricants :$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nFermez JAWS avant de continuer."
LangString FinishText ${LANG_ENGLISH} "The Cellivanta VK driver is installed in $INSTDIR.$\r$\n$\r$\nStart JAWS and choose the Cellivanta VK display in its braille settings."
LangString FinishText ${LANG_FRENCH} "Le pilote Cellivanta VK est installé dans $INSTDIR.$\r$\n$\r$\nDémarrez JAWS et choisissez l'afficheur Cellivanta VK dans ses réglages braille."
LangString NoJawsFolder ${LANG_ENGLISH} "JAWS 10 or later was not found: this computer has no folder where JAWS looks for braille displays of other makers.$\r$\n$\r$\nInstall JAWS first, then run this setup again. Nothing was installed."
LangString NoJawsFolder ${LANG_FRENCH} "JAWS 10 ou subséquent est introuvable : cet ordinateur n'a aucun dossier où JAWS cherche les afficheurs braille d'autres fabricants.$\r$\n$\r$\nInstallez d'abord JAWS, puis relancez cette installation. Rien n'a été installé."
LangString Needs64Bit ${LANG_ENGLISH} "The Cellivanta VK braille driver needs 64-bit Windows, and this computer runs 32-bit Windows.$\r$\n$\r$\nNothing was installed."
LangString Needs64Bit ${LANG_FRENCH} "Le pilote braille Cellivanta VK nécessite Windows 64 bits, et cet ordinateur utilise Windows 32 bits.$\r$\n$\r$\nRien n'a été installé."
LangString InstallingInto ${LANG_ENGLISH} "Installing the Cellivanta VK driver into $INSTDIR"
LangString InstallingInto ${LANG_FRENCH} "Installation du pilote Cellivanta VK dans $INSTDIR"
LangString EmulatorClosed ${LANG_ENGLISH} "The PC emulator was asked to close."
LangString EmulatorClosed ${LANG_FRENCH} "L'émulateur PC a été invité à se fermer."

VIProductVersion "${PRODUCT_VERSION}"
VIFileVersion "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Kelvadore"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Cellivanta VK driver for JAWS"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Cellivanta VK driver for JAWS setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Kelvadore"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${PRODUCT_VERSION}"

; The setup extension library, unloaded after each call so that the plug-ins
; folder can be removed when the setup ends.
!macro CallPellacore FUNCTION
    System::Call "$PLUGINSDIR\Pellacore::${FUNCTION} ?u"
!macroend

; Stops the setup before anything is installed: the reason goes into a
; message box, or into the setup log when the setup runs silently.
!macro StopSetup TEXT CODE
    ${If} ${Silent}
        FileOpen $9 "${SETUP_LOG}" a
        FileSeek $9 0 END
        FileWrite $9 "${TEXT}$\r$\n"
        FileClose $9
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel ${CODE}
    Quit
!macroend

Function .onInit
    InitPluginsDir
    File "/oname=$PLUGINSDIR\Pellacore.dll" "${PELLACORE_DLL}"
    ; The braille driver is a 64-bit library: on 32-bit Windows JAWS could
    ; never load it.
    !insertmacro CallPellacore "Is64BitsOS() i .r0"
    ${If} $0 != 1
        !insertmacro StopSetup "$(Needs64Bit)" ${EXIT_NEEDS_64BIT}
    ${EndIf}
    ; Room for 260 bytes and the terminator, the most the library reads.
    !insertmacro CallPellacore "GetThirdPartyFolderFromRegistry(i 261, m .r1) i .r0"
    ${If} $0 != 1
    ${OrIf} $1 == ""
        !insertmacro StopSetup "$(NoJawsFolder)" ${EXIT_NO_JAWS_FOLDER}
    ${EndIf}
    StrCpy $INSTDIR $1
FunctionEnd

Section "Driver"
    ; The emulator holds the driver's folder busy; it is only asked to close,
    ; so give it a moment before the files are replaced.
    !insertmacro CallPellacore "KillPcEmulator() i .r0"
    ${If} $0 == 1
        DetailPrint "$(EmulatorClosed)"
        Sleep 1000
    ${EndIf}

    DetailPrint "$(InstallingInto)"
    StrCpy $FolderCreated 0
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
        StrCpy $FolderCreated 1
    ${EndIf}
    SetOutPath "$INSTDIR"
    File "/oname=VK.JLB" "${VK_JLB}"
    File "/oname=kvbrl.ini" "${KVBRL_INI}"
    File "/oname=vkkeys.exe" "${VKKEYS_EXE}"
    File "/oname=vkdiag.exe" "${VKDIAG_EXE}"

    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "$(ProductName)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelvadore"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ; The folder is JAWS's: the uninstaller removes it only if this setup made it.
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "FolderCreated" $FolderCreated
SectionEnd

Section "Uninstall"
    Delete "$INSTDIR\VK.JLB"
    Delete "$INSTDIR\kvbrl.ini"
    Delete "$INSTDIR\vkkeys.exe"
    Delete "$INSTDIR\vkdiag.exe"
    Delete "$INSTDIR\${UNINSTALLER}"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "FolderCreated"
    ${If} $0 == 1
        RMDir "$INSTDIR"
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
