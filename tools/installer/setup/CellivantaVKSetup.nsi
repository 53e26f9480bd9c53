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
; Updating: kvbrl.ini is the user's once they change it. The setup records the
; SHA-256 of the key map it installed; a key map that matches it (or any key
; map we shipped) is replaced, a changed one is kept and the new default goes
; beside it as kvbrl.ini.new. A file in use (VK.JLB loaded by JAWS) is renamed
; aside, which Windows allows for a loaded image though it refuses to
; overwrite it; where even that is refused the replacement waits for the next
; restart (exit code 3010). The same version repairs, a newer one upgrades, an
; older one over a newer one asks, or refuses when silent unless /DOWNGRADE.
;
; The log: silently, or with /LOG=FILE, the setup says what it did and why it
; stopped. The default log goes into a new folder the setup creates itself in
; the user's temporary folder: an elevated process must never append to a
; file at a path another program of the user could have turned into a link.
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
!include FileFunc.nsh
!include WordFunc.nsh
!include MUI2.nsh

; The same bytes from every build: the packed files keep no time of their own.
SetDateSave off
!ifdef SIGN_FILE
!uninstfinalize '"${SIGN_FILE}" "%1"' = 0
!endif
!define UNINSTALLER "Uninstall Cellivanta VK.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\CellivantaVK"
; Exit codes. 1 and 2 are the setup engine's own (cancelled, aborted).
; On 32-bit Windows, where the 64-bit driver cannot load.
!define EXIT_NEEDS_64BIT 3
; JAWS names no folder for drivers of other makers.
!define EXIT_NO_JAWS_FOLDER 4
; Pellacore.dll could not be loaded (a policy or an antivirus), so nothing
; could be checked.
!define EXIT_COULD_NOT_CHECK 5
; A newer version is installed and was kept.
!define EXIT_NEWER_INSTALLED 6
; A file could not be written; what was changed is said.
!define EXIT_WRITE_FAILED 7
; The platform's "success, restart required": a file in use is replaced at
; the next restart.
!define EXIT_RESTART_NEEDED 3010
!define LOG_NAME "Cellivanta VK setup.log"
!define KEYMAP "kvbrl.ini"

Name "$(ProductName)"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

Var FolderCreated
; The log's handle: empty until the first line, "-" when there is none.
Var LogFile
Var LogFolder
; The SHA-256 helper's file and result ("" when the file cannot be read).
Var HashPath
Var HashHex
; The key map this setup carries (in the uninstaller: the one installed).
Var ShippedHash
Var InstalledVersion
; One file's replacement: its name in $INSTDIR, the new copy, the outcome.
Var ReplaceTarget
Var ReplaceSource
Var ReplaceFailed
Var DriverInUse
Var RestartNeeded
Var Updated
Var FinishNotes

!define MUI_ICON "${SETUP_ICON}"
!define MUI_UNICON "${SETUP_ICON}"
!define MUI_WELCOMEPAGE_TITLE "$(WelcomeTitle)"
!define MUI_WELCOMEPAGE_TEXT "$(WelcomeText)"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(FinishText)$FinishNotes"
!define MUI_FINISHPAGE_TEXT_REBOOT "$(FinishRestartText)$FinishNotes"
; Enter on the last page must not restart Windows under unsaved work.
!define MUI_FINISHPAGE_REBOOTLATER_DEFAULT
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
LangString WelcomeText ${LANG_ENGLISH} "This setup installs the driver of the Cellivanta VK braille display for JAWS 10 or later.$\r$\n$\r$\nThe driver (VK.JLB) and its key map (kvbrl.ini) will be installed into the folder that JAWS uses for braille displays of other makers:$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nJAWS may keep running: the last page says when it uses the new driver. A key map you changed is kept."
LangString WelcomeText ${LANG_FRENCH} "Cette installation ajoute le pilote de l'afficheur braille Cellivanta VK à JAWS 10 ou version ultérieure.$\r$\n$\r$\nLe pilote (VK.JLB) et son fichier de touches (kvbrl.ini) seront installés dans le dossier que JAWS utilise pour les afficheurs braille d'autres fabricants :$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nJAWS peut rester ouvert : la dernière page indique quand il utilise le nouveau pilote. Un fichier de touches que vous avez modifié est conservé."
LangString FinishText ${LANG_ENGLISH} "The Cellivanta VK driver is installed in $INSTDIR.$\r$\n$\r$\nStart JAWS and choose the Cellivanta VK display in its braille settings."
LangString FinishText ${LANG_FRENCH} "Le pilote Cellivanta VK est installé dans $INSTDIR.$\r$\n$\r$\nDémarrez JAWS et choisissez l'afficheur Cellivanta VK dans ses réglages braille."
LangString NoJawsFolder ${LANG_ENGLISH} "JAWS 10 or later was not found: this computer has no folder where JAWS looks for braille displays of other makers.$\r$\n$\r$\nInstall JAWS first, then run this setup again. Nothing was installed."
LangString NoJawsFolder ${LANG_FRENCH} "JAWS 10 ou version ultérieure est introuvable : cet ordinateur n'a aucun dossier où JAWS cherche les afficheurs braille d'autres fabricants.$\r$\n$\r$\nInstallez d'abord JAWS, puis relancez cette installation. Rien n'a été installé."
LangString Needs64Bit ${LANG_ENGLISH} "The Cellivanta VK braille driver needs 64-bit Windows, and this computer runs 32-bit Windows.$\r$\n$\r$\nNothing was installed."
LangString Needs64Bit ${LANG_FRENCH} "Le pilote braille Cellivanta VK nécessite Windows 64 bits, et cet ordinateur utilise Windows 32 bits.$\r$\n$\r$\nRien n'a été installé."
LangString InstallingInto ${LANG_ENGLISH} "Installing the Cellivanta VK driver into $INSTDIR"
LangString InstallingInto ${LANG_FRENCH} "Installation du pilote Cellivanta VK dans $INSTDIR"
LangString EmulatorClosed ${LANG_ENGLISH} "The PC emulator was asked to close."
LangString EmulatorClosed ${LANG_FRENCH} "L'émulateur PC a été invité à se fermer."
LangString CouldNotCheck ${LANG_ENGLISH} "The setup could not check whether this computer runs 64-bit Windows: its helper library Pellacore.dll could not be loaded (a security policy or an antivirus may block it).$\r$\n$\r$\nNothing was installed."
LangString CouldNotCheck ${LANG_FRENCH} "L'installation n'a pas pu vérifier si cet ordinateur utilise Windows 64 bits : sa bibliothèque Pellacore.dll n'a pas pu être chargée (une stratégie de sécurité ou un antivirus la bloque peut-être).$\r$\n$\r$\nRien n'a été installé."
LangString NewerAsk ${LANG_ENGLISH} "A newer version of the Cellivanta VK driver is installed ($InstalledVersion). This setup holds the older version ${PRODUCT_VERSION}.$\r$\n$\r$\nReplace the newer version with the older one?"
LangString NewerAsk ${LANG_FRENCH} "Une version plus récente du pilote Cellivanta VK est installée ($InstalledVersion). Cette installation contient la version plus ancienne ${PRODUCT_VERSION}.$\r$\n$\r$\nRemplacer la version plus récente par l'ancienne ?"
LangString NewerKept ${LANG_ENGLISH} "A newer version of the Cellivanta VK driver is installed ($InstalledVersion) and was kept: this setup holds the older version ${PRODUCT_VERSION}. Nothing was installed. To install the older version anyway, run the setup with /DOWNGRADE."
LangString NewerKept ${LANG_FRENCH} "Une version plus récente du pilote Cellivanta VK est installée ($InstalledVersion) et a été conservée : cette installation contient la version plus ancienne ${PRODUCT_VERSION}. Rien n'a été installé. Pour installer quand même l'ancienne version, lancez l'installation avec /DOWNGRADE."
LangString Repairing ${LANG_ENGLISH} "Repairing version ${PRODUCT_VERSION}."
LangString Repairing ${LANG_FRENCH} "Réparation de la version ${PRODUCT_VERSION}."
LangString Upgrading ${LANG_ENGLISH} "Updating version $InstalledVersion to ${PRODUCT_VERSION}."
LangString Upgrading ${LANG_FRENCH} "Mise à jour de la version $InstalledVersion vers ${PRODUCT_VERSION}."
LangString Downgrading ${LANG_ENGLISH} "Replacing version $InstalledVersion with the older ${PRODUCT_VERSION}."
LangString Downgrading ${LANG_FRENCH} "Remplacement de la version $InstalledVersion par l'ancienne ${PRODUCT_VERSION}."
LangString Installed ${LANG_ENGLISH} "Version ${PRODUCT_VERSION} of the Cellivanta VK driver is installed in $INSTDIR."
LangString Installed ${LANG_FRENCH} "La version ${PRODUCT_VERSION} du pilote Cellivanta VK est installée dans $INSTDIR."
LangString KeyMapKept ${LANG_ENGLISH} "Your changed key map ${KEYMAP} was kept. The new default key map is beside it as ${KEYMAP}.new. To compare them, type in that folder: fc ${KEYMAP} ${KEYMAP}.new (vkkeys check ${KEYMAP}.new checks the new one)."
LangString KeyMapKept ${LANG_FRENCH} "Votre fichier de touches modifié ${KEYMAP} a été conservé. Le nouveau fichier de touches par défaut est à côté, sous le nom ${KEYMAP}.new. Pour les comparer, tapez dans ce dossier : fc ${KEYMAP} ${KEYMAP}.new (vkkeys check ${KEYMAP}.new vérifie le nouveau)."
LangString DriverWasInUse ${LANG_ENGLISH} "JAWS was using the old driver. The new one is in place: JAWS loads it the next time it starts braille, for example when you restart JAWS. The old file is removed when Windows restarts."
LangString DriverWasInUse ${LANG_FRENCH} "JAWS utilisait l'ancien pilote. Le nouveau est en place : JAWS le charge la prochaine fois qu'il démarre le braille, par exemple quand vous redémarrez JAWS. L'ancien fichier est supprimé au redémarrage de Windows."
LangString ReplacedAtRestart ${LANG_ENGLISH} "$ReplaceTarget is in use and cannot be replaced now: Windows replaces it when it restarts. Until then the old version stays in use."
LangString ReplacedAtRestart ${LANG_FRENCH} "$ReplaceTarget est utilisé et ne peut pas être remplacé maintenant : Windows le remplace à son redémarrage. D'ici là, l'ancienne version reste utilisée."
LangString CouldNotWrite ${LANG_ENGLISH} "The setup could not write its files into $INSTDIR (the disk may be full, or the folder protected). Nothing was changed."
LangString CouldNotWrite ${LANG_FRENCH} "L'installation n'a pas pu écrire ses fichiers dans $INSTDIR (le disque est peut-être plein, ou le dossier protégé). Rien n'a été modifié."
LangString CouldNotReplace ${LANG_ENGLISH} "The setup could not replace $ReplaceTarget in $INSTDIR, not even at the next restart. Files already updated:$Updated. Close JAWS, restart Windows and run the setup again."
LangString CouldNotReplace ${LANG_FRENCH} "L'installation n'a pas pu remplacer $ReplaceTarget dans $INSTDIR, même au prochain redémarrage. Fichiers déjà mis à jour :$Updated. Fermez JAWS, redémarrez Windows et relancez l'installation."
LangString FinishRestartText ${LANG_ENGLISH} "The Cellivanta VK driver is installed in $INSTDIR, but a file in use is replaced only when Windows restarts. Until then JAWS keeps the old driver."
LangString FinishRestartText ${LANG_FRENCH} "Le pilote Cellivanta VK est installé dans $INSTDIR, mais un fichier utilisé n'est remplacé qu'au redémarrage de Windows. D'ici là, JAWS garde l'ancien pilote."
LangString KeyMapStays ${LANG_ENGLISH} "Your changed key map stays in $INSTDIR\${KEYMAP}."
LangString KeyMapStays ${LANG_FRENCH} "Votre fichier de touches modifié reste dans $INSTDIR\${KEYMAP}."
LangString RemovedAtRestart ${LANG_ENGLISH} "VK.JLB is in use: Windows removes it when it restarts."
LangString RemovedAtRestart ${LANG_FRENCH} "VK.JLB est utilisé : Windows le supprime à son redémarrage."

VIProductVersion "${PRODUCT_VERSION}"
VIFileVersion "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "Kelvadore"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Cellivanta VK driver for JAWS"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Cellivanta VK driver for JAWS setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Kelvadore"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${PRODUCT_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${PRODUCT_VERSION}"

; The setup extension library, unloaded after each call so that the plug-ins
; folder can be removed when the setup ends. $0 is "error" when it could not
; be loaded.
!macro CallPellacore FUNCTION
    System::Call "$PLUGINSDIR\Pellacore::${FUNCTION} ?u"
!macroend

; A line for the user: on the progress page and in the log.
!macro Say TEXT
    DetailPrint "${TEXT}"
    Push "${TEXT}"
    !ifdef __UNINSTALL__
        Call un.WriteLog
    !else
        Call WriteLog
    !endif
!macroend

; Stops the setup before anything is installed: the reason goes into a
; message box, or into the log when the setup runs silently.
!macro StopSetup TEXT CODE
    Push "${TEXT}"
    Call WriteLog
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel ${CODE}
    Quit
!macroend

; Stops the setup while it installs, with what was changed in TEXT.
!macro FailInstall TEXT
    !insertmacro Say "${TEXT}"
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel ${EXIT_WRITE_FAILED}
    Abort
!macroend

; Key maps shipped by earlier versions: still unchanged, so still ours to
; replace. Add the SHA-256 of each shipped key map when it changes.
!macro ShippedKeyMap HASH
    StrCmp $HashHex "${HASH}" shipped
!macroend

!macro CommonFunctions UN
; The log, opened at its first line. A path given with /LOG= is the caller's
; choice; without one a silent setup makes a new folder of its own, holds it
; open so that it cannot be renamed or swapped for a link, and creates the
; log in it as a new file.
Function ${UN}OpenLog
    StrCpy $LogFile "-"
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/LOG=" $1
    ${IfNot} ${Errors}
        ClearErrors
        FileOpen $2 $1 a
        ${IfNot} ${Errors}
            FileSeek $2 0 END
            StrCpy $LogFile $2
        ${EndIf}
        Return
    ${EndIf}
    ${IfNot} ${Silent}
        Return
    ${EndIf}
    ${GetTime} "" "L" $2 $3 $4 $5 $6 $7 $8
    StrCpy $1 "$TEMP\Cellivanta VK setup $4-$3-$2 $6.$7.$8"
    StrCpy $0 $1
    StrCpy $9 1
    ${Do}
        System::Call 'kernel32::CreateDirectoryW(w r0, p 0) i .r2'
        ${If} $2 != 0
            ${Break}
        ${EndIf}
        IntOp $9 $9 + 1
        ${If} $9 > 50
            Return
        ${EndIf}
        StrCpy $0 "$1 ($9)"
    ${Loop}
    ; GENERIC_READ, share read and write but not delete, OPEN_EXISTING,
    ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT.
    System::Call 'kernel32::CreateFileW(w r0, i 0x80000000, i 3, p 0, i 3, i 0x02200000, p 0) p .r2'
    ${If} $2 == -1
        Return
    ${EndIf}
    StrCpy $LogFolder $2
    System::Call 'kernel32::GetFileAttributesW(w r0) i .r3'
    IntOp $3 $3 & 0x400
    ${If} $3 != 0
        Return
    ${EndIf}
    ; GENERIC_WRITE, share read, CREATE_NEW, FILE_ATTRIBUTE_NORMAL.
    System::Call 'kernel32::CreateFileW(w "$0\${LOG_NAME}", i 0x40000000, i 1, p 0, i 1, i 0x80, p 0) p .r2'
    ${If} $2 != -1
        StrCpy $LogFile $2
    ${EndIf}
FunctionEnd

; Writes the line on the stack into the log, when there is one.
Function ${UN}WriteLog
    Exch $R0
    Push $0
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    Push $8
    Push $9
    ${If} $LogFile == ""
        Call ${UN}OpenLog
    ${EndIf}
    ${If} $LogFile != "-"
        FileWrite $LogFile "$R0$\r$\n"
    ${EndIf}
    Pop $9
    Pop $8
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
    Pop $R0
FunctionEnd

; The SHA-256 of $HashPath in $HashHex (lower-case hex), "" when the file
; cannot be read. A key map is small: anything over 1 MB is not one of ours.
Function ${UN}Sha256OfFile
    StrCpy $HashHex ""
    System::Call 'kernel32::CreateFileW(w "$HashPath", i 0x80000000, i 1, p 0, i 3, i 0, p 0) p .r0'
    ${If} $0 == -1
        Return
    ${EndIf}
    System::Call 'kernel32::GetFileSize(p r0, p 0) i .r1'
    ${If} $1 < 0
    ${OrIf} $1 > 1048576
        System::Call 'kernel32::CloseHandle(p r0)'
        Return
    ${EndIf}
    IntOp $2 $1 + 1
    System::Alloc $2
    Pop $2
    System::Call 'kernel32::ReadFile(p r0, p r2, i r1, *i .r3, p 0) i .r4'
    System::Call 'kernel32::CloseHandle(p r0)'
    ${If} $4 == 0
    ${OrIf} $3 != $1
        System::Free $2
        Return
    ${EndIf}
    ; PROV_RSA_AES, CRYPT_VERIFYCONTEXT; CALG_SHA_256; HP_HASHVAL.
    System::Call 'advapi32::CryptAcquireContextW(*p .r5, p 0, p 0, i 24, i 0xF0000000) i .r4'
    ${If} $4 != 0
        System::Call 'advapi32::CryptCreateHash(p r5, i 0x800c, p 0, i 0, *p .r6) i .r4'
        ${If} $4 != 0
            System::Alloc 32
            Pop $7
            System::Call 'advapi32::CryptHashData(p r6, p r2, i r1, i 0) i .r4'
            ${If} $4 != 0
                System::Call 'advapi32::CryptGetHashParam(p r6, i 2, p r7, *i 32, i 0) i .r4'
            ${EndIf}
            ${If} $4 != 0
                ${For} $8 0 31
                    IntOp $9 $7 + $8
                    System::Call "*$9(&i1 .r3)"
                    IntOp $3 $3 & 0xff
                    IntFmt $3 "%02x" $3
                    StrCpy $HashHex "$HashHex$3"
                ${Next}
            ${EndIf}
            System::Free $7
            System::Call 'advapi32::CryptDestroyHash(p r6)'
        ${EndIf}
        System::Call 'advapi32::CryptReleaseContext(p r5, i 0)'
    ${EndIf}
    System::Free $2
FunctionEnd

; $0 = 1 when $HashHex is a key map this product installed or shipped.
Function ${UN}IsShippedKeyMap
    StrCpy $0 1
    StrCmp $HashHex "" 0 +3
        StrCpy $0 0
        Return
    StrCmp $HashHex $ShippedHash shipped
    ; 1.0 to 1.0.7
    !insertmacro ShippedKeyMap "72ea0640e7c3e6cce81730c1c3db9f56a10cf71ec030e9dba1a341e449862b2c"
    StrCpy $0 0
    shipped:
FunctionEnd
!macroend
!insertmacro CommonFunctions ""
!insertmacro CommonFunctions "un."

Function .onInit
    InitPluginsDir
    File "/oname=$PLUGINSDIR\Pellacore.dll" "${PELLACORE_DLL}"
    ; The braille driver is a 64-bit library: on 32-bit Windows JAWS could
    ; never load it. A library that did not load answers nothing about that.
    !insertmacro CallPellacore "Is64BitsOS() i .r0"
    ${If} $0 == "error"
        !insertmacro StopSetup "$(CouldNotCheck)" ${EXIT_COULD_NOT_CHECK}
    ${ElseIf} $0 != 1
        !insertmacro StopSetup "$(Needs64Bit)" ${EXIT_NEEDS_64BIT}
    ${EndIf}
    ; Room for 260 characters and the terminator, the most the library reads;
    ; wide, so that a folder outside the code page is the right folder.
    !insertmacro CallPellacore "GetThirdPartyFolderFromRegistryW(i 261, w .r1) i .r0"
    ${If} $0 == "error"
        !insertmacro StopSetup "$(CouldNotCheck)" ${EXIT_COULD_NOT_CHECK}
    ${ElseIf} $0 != 1
    ${OrIf} $1 == ""
        !insertmacro StopSetup "$(NoJawsFolder)" ${EXIT_NO_JAWS_FOLDER}
    ${EndIf}
    StrCpy $INSTDIR $1
    Call CheckVersion
FunctionEnd

; The same version repairs, a newer one upgrades; an older one over a newer
; one only when the user says so, or silently with /DOWNGRADE.
Function CheckVersion
    ReadRegStr $InstalledVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
    ${If} $InstalledVersion == ""
        Return
    ${EndIf}
    ${VersionCompare} $InstalledVersion "${PRODUCT_VERSION}" $0
    ${If} $0 != 1
        Return
    ${EndIf}
    ${GetParameters} $1
    ClearErrors
    ${GetOptions} $1 "/DOWNGRADE" $2
    ${IfNot} ${Errors}
        Return
    ${EndIf}
    ${If} ${Silent}
        !insertmacro StopSetup "$(NewerKept)" ${EXIT_NEWER_INSTALLED}
    ${EndIf}
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "$(NewerAsk)" IDYES done
    SetErrorLevel ${EXIT_NEWER_INSTALLED}
    Quit
    done:
FunctionEnd

; Puts $ReplaceSource in place of $INSTDIR\$ReplaceTarget. The old file is
; renamed aside first, which Windows allows even while a program has it
; loaded; it goes at once when unused, else at the next restart. Where even
; the rename is refused, the new file waits for the restart ($RestartNeeded).
; $ReplaceFailed = 1 when neither worked; the old file is then left as it was.
Function ReplaceFile
    StrCpy $ReplaceFailed 0
    StrCpy $0 "$INSTDIR\$ReplaceTarget"
    StrCpy $1 ""
    ${If} ${FileExists} $0
        System::Call 'kernel32::GetTickCount() i .r2'
        StrCpy $1 "$0.old-$2"
        ${While} ${FileExists} $1
            IntOp $2 $2 + 1
            StrCpy $1 "$0.old-$2"
        ${EndWhile}
        ClearErrors
        Rename $0 $1
        ${If} ${Errors}
            ; MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT
            System::Call 'kernel32::MoveFileExW(w "$ReplaceSource", w r0, i 5) i .r2'
            ${If} $2 == 0
                Delete $ReplaceSource
                StrCpy $ReplaceFailed 1
                Return
            ${EndIf}
            StrCpy $RestartNeeded 1
            !insertmacro Say "$(ReplacedAtRestart)"
            Return
        ${EndIf}
    ${EndIf}
    ClearErrors
    Rename $ReplaceSource $0
    ${If} ${Errors}
        ${If} $1 != ""
            Rename $1 $0
        ${EndIf}
        Delete $ReplaceSource
        StrCpy $ReplaceFailed 1
        Return
    ${EndIf}
    StrCpy $Updated "$Updated $ReplaceTarget"
    ${If} $1 == ""
        Return
    ${EndIf}
    ClearErrors
    Delete $1
    ${If} ${Errors}
        ; Still loaded: MOVEFILE_DELAY_UNTIL_REBOOT with no new name.
        System::Call 'kernel32::MoveFileExW(w r1, p 0, i 4) i .r2'
        ${If} $ReplaceTarget == "VK.JLB"
            StrCpy $DriverInUse 1
        ${EndIf}
    ${EndIf}
FunctionEnd

!macro ReplaceFile TARGET SOURCE
    StrCpy $ReplaceTarget "${TARGET}"
    StrCpy $ReplaceSource "${SOURCE}"
    Call ReplaceFile
    ${If} $ReplaceFailed == 1
        Call RemoveNewFiles
        !insertmacro FailInstall "$(CouldNotReplace)"
    ${EndIf}
!macroend

Function RemoveNewFiles
    Delete "$INSTDIR\VK.JLB.part"
    Delete "$INSTDIR\vkkeys.exe.part"
    Delete "$INSTDIR\vkdiag.exe.part"
    Delete "$INSTDIR\${KEYMAP}.part"
FunctionEnd

; The key map is replaced while it is one we installed or shipped; a changed
; one is the user's: it stays, and the new default goes beside it.
Function InstallKeyMap
    StrCpy $HashPath "$INSTDIR\${KEYMAP}.part"
    Call Sha256OfFile
    StrCpy $ShippedHash $HashHex
    ${IfNot} ${FileExists} "$INSTDIR\${KEYMAP}"
        !insertmacro ReplaceFile "${KEYMAP}" "$INSTDIR\${KEYMAP}.part"
        Delete "$INSTDIR\${KEYMAP}.new"
        Return
    ${EndIf}
    StrCpy $HashPath "$INSTDIR\${KEYMAP}"
    Call Sha256OfFile
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "KeyMapSha256"
    Call IsShippedKeyMap
    ${If} $HashHex != ""
    ${AndIf} $HashHex == $1
        StrCpy $0 1
    ${EndIf}
    ${If} $0 == 1
        !insertmacro ReplaceFile "${KEYMAP}" "$INSTDIR\${KEYMAP}.part"
        Delete "$INSTDIR\${KEYMAP}.new"
        Return
    ${EndIf}
    !insertmacro ReplaceFile "${KEYMAP}.new" "$INSTDIR\${KEYMAP}.part"
    !insertmacro Say "$(KeyMapKept)"
    StrCpy $FinishNotes "$FinishNotes$\r$\n$\r$\n$(KeyMapKept)"
FunctionEnd

Section "Driver"
    ; The emulator holds the driver's folder busy; it is only asked to close,
    ; so give it a moment before the files are replaced.
    !insertmacro CallPellacore "KillPcEmulator() i .r0"
    ${If} $0 == 1
        DetailPrint "$(EmulatorClosed)"
        Sleep 1000
    ${EndIf}

    ${VersionCompare} "$InstalledVersion" "${PRODUCT_VERSION}" $0
    ${If} $InstalledVersion == ""
        DetailPrint "$(InstallingInto)"
    ${ElseIf} $0 == 0
        !insertmacro Say "$(Repairing)"
    ${ElseIf} $0 == 2
        !insertmacro Say "$(Upgrading)"
    ${Else}
        !insertmacro Say "$(Downgrading)"
    ${EndIf}
    StrCpy $FolderCreated 0
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
        StrCpy $FolderCreated 1
    ${EndIf}
    SetOutPath "$INSTDIR"
    ; Every new file is written beside the old one first: a failure here
    ; leaves the installed files as they were.
    SetOverwrite try
    ClearErrors
    File "/oname=VK.JLB.part" "${VK_JLB}"
    File "/oname=vkkeys.exe.part" "${VKKEYS_EXE}"
    File "/oname=vkdiag.exe.part" "${VKDIAG_EXE}"
    File "/oname=${KEYMAP}.part" "${KVBRL_INI}"
    ${If} ${Errors}
        Call RemoveNewFiles
        !insertmacro FailInstall "$(CouldNotWrite)"
    ${EndIf}
    SetOverwrite on
    ; The driver first: it is what the user runs.
    !insertmacro ReplaceFile "VK.JLB" "$INSTDIR\VK.JLB.part"
    !insertmacro ReplaceFile "vkkeys.exe" "$INSTDIR\vkkeys.exe.part"
    !insertmacro ReplaceFile "vkdiag.exe" "$INSTDIR\vkdiag.exe.part"
    Call InstallKeyMap

    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "$(ProductName)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelvadore"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ; What the next setup and the uninstaller compare the key map with.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "KeyMapSha256" "$ShippedHash"
    ; The folder is JAWS's: the uninstaller removes it only if this setup made
    ; it. A repair keeps what the first install recorded.
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "FolderCreated"
    ${If} $InstalledVersion == ""
    ${OrIf} $0 == ""
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "FolderCreated" $FolderCreated
    ${EndIf}

    ${If} $DriverInUse == 1
        !insertmacro Say "$(DriverWasInUse)"
        StrCpy $FinishNotes "$FinishNotes$\r$\n$\r$\n$(DriverWasInUse)"
    ${EndIf}
    ${If} $RestartNeeded == 1
        SetRebootFlag true
        SetErrorLevel ${EXIT_RESTART_NEEDED}
    ${Else}
        !insertmacro Say "$(Installed)"
    ${EndIf}
SectionEnd

Section "Uninstall"
    ReadRegStr $ShippedHash HKLM "${UNINSTALL_KEY}" "KeyMapSha256"
    Delete /REBOOTOK "$INSTDIR\VK.JLB"
    ${If} ${RebootFlag}
        !insertmacro Say "$(RemovedAtRestart)"
    ${EndIf}
    Delete "$INSTDIR\VK.JLB.old-*"
    Delete "$INSTDIR\vkkeys.exe"
    Delete "$INSTDIR\vkkeys.exe.old-*"
    Delete "$INSTDIR\vkdiag.exe"
    Delete "$INSTDIR\vkdiag.exe.old-*"
    Delete "$INSTDIR\${KEYMAP}.new"
    ${If} ${FileExists} "$INSTDIR\${KEYMAP}"
        StrCpy $HashPath "$INSTDIR\${KEYMAP}"
        Call un.Sha256OfFile
        Call un.IsShippedKeyMap
        ${If} $0 == 1
            Delete "$INSTDIR\${KEYMAP}"
        ${Else}
            !insertmacro Say "$(KeyMapStays)"
            ; The uninstaller has no last page: a box is what the user hears.
            MessageBox MB_OK|MB_ICONINFORMATION "$(KeyMapStays)" /SD IDOK
        ${EndIf}
    ${EndIf}
    Delete "$INSTDIR\${UNINSTALLER}"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "FolderCreated"
    ${If} $0 == 1
        RMDir "$INSTDIR"
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
