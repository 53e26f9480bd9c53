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
; stopped, in UTF-8. The default log goes into a new folder with a random name
; that the setup creates itself in the user's temporary folder, for
; administrators only when elevated. An elevated process must never write
; into a file another program of the user placed or redirected: the log is
; always a new file, on a path without links, checked through its handle.
; A setup that cannot have its log stops before it installs anything.
;
; Windows 7 without update KB2533623 has no safe DLL search: the setup, run
; with administrator rights from a folder others can write to, would load
; DLLs from that folder. It refuses to run there.
;
; makensis -DPRODUCT_VERSION=... -DVK_JLB=... -DKVBRL_INI=... -DVKKEYS_EXE=... -DVKDIAG_EXE=... -DPELLACORE_DLL=...
;          -DSETUP_ICON=... -DOUTFILE=... [-DSIGN_FILE=command that signs the file it is given]

Unicode true
; The tool stores and starts this package under the name Setup.exe.
!pragma warning disable 9000
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestSupportedOS all
; Sharp text at large text sizes: the pages are laid out in dialog units.
ManifestDPIAware true

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
; Windows 7 without KB2533623: no safe DLL search.
!define EXIT_NO_SAFE_DLL_SEARCH 8
; The log could not be created as a new file on a path without links.
!define EXIT_NO_LOG 9
; Started as SYSTEM (a deployment tool's service): it refuses.
!define EXIT_RUNS_AS_SYSTEM 10
; The folder JAWS names is not a full path on a local drive.
!define EXIT_NO_USABLE_FOLDER 11
; Other users may change the folder, and its access list could not be
; narrowed to administrators.
!define EXIT_FOLDER_NOT_PROTECTED 12
; The platform's "success, restart required": a file in use is replaced at
; the next restart.
!define EXIT_RESTART_NEEDED 3010
!define LOG_NAME "Cellivanta VK setup.log"
!define KEYMAP "kvbrl.ini"
!define SESSION_MANAGER "SYSTEM\CurrentControlSet\Control\Session Manager"
!define PENDING_RENAMES "PendingFileRenameOperations"
; What the uninstaller adds to the files' size on the disk, with room to spare.
!define UNINSTALLER_KB 1024

Name "$(ProductName)"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

Var FolderCreated
; The log's handle: empty until the first line, "-" when there is none.
Var LogFile
Var LogFolder
; The log's full path, and why it could not be created ("" when it was).
Var LogPath
Var LogProblem
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
; When a replacement failed: whether the old file is back.
Var FailNote
Var FailureSaid
; The old copy of a replaced file, its removal at the restart.
Var OldName
Var DriverOldNote
; The uninstaller's files that stay: left in place, or removed at the restart.
Var Left
Var AtRestart
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
LangString WelcomeText ${LANG_ENGLISH} "This setup installs the driver of the Cellivanta VK braille display for JAWS 10 or later.$\r$\n$\r$\nThe driver (VK.JLB), its key map (kvbrl.ini), the key map checker (vkkeys.exe), the display finder (vkdiag.exe) and the uninstaller (${UNINSTALLER}) will be installed into the folder that JAWS uses for braille displays of other makers:$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nJAWS may keep running: the last page says when it uses the new driver. A key map you changed is kept."
LangString WelcomeText ${LANG_FRENCH} "Cette installation ajoute le pilote de l'afficheur braille Cellivanta VK à JAWS 10 ou version ultérieure.$\r$\n$\r$\nLe pilote (VK.JLB), son fichier de touches (kvbrl.ini), le vérificateur de touches (vkkeys.exe), l'outil de recherche de l'afficheur (vkdiag.exe) et le programme de désinstallation (${UNINSTALLER}) seront installés dans le dossier que JAWS utilise pour les afficheurs braille d'autres fabricants :$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nJAWS peut rester ouvert : la dernière page indique quand il utilise le nouveau pilote. Un fichier de touches que vous avez modifié est conservé."
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
LangString DriverWasInUse ${LANG_ENGLISH} "JAWS was using the old driver. The new one is in place: JAWS loads it the next time it starts braille, for example when you restart JAWS. $DriverOldNote"
LangString DriverWasInUse ${LANG_FRENCH} "JAWS utilisait l'ancien pilote. Le nouveau est en place : JAWS le charge la prochaine fois qu'il démarre le braille, par exemple quand vous redémarrez JAWS. $DriverOldNote"
LangString OldRemovedAtRestart ${LANG_ENGLISH} "The old file is removed when Windows restarts."
LangString OldRemovedAtRestart ${LANG_FRENCH} "L'ancien fichier est supprimé au redémarrage de Windows."
LangString OldFileStays ${LANG_ENGLISH} "The old file $OldName is still in use and Windows could not plan its removal: delete it from $INSTDIR once JAWS is closed."
LangString OldFileStays ${LANG_FRENCH} "L'ancien fichier $OldName est encore utilisé et Windows n'a pas pu prévoir sa suppression : supprimez-le de $INSTDIR une fois JAWS fermé."
LangString ReplacedAtRestart ${LANG_ENGLISH} "$ReplaceTarget is in use and cannot be replaced now: Windows replaces it when it restarts. Until then the old version stays in use."
LangString ReplacedAtRestart ${LANG_FRENCH} "$ReplaceTarget est utilisé et ne peut pas être remplacé maintenant : Windows le remplace à son redémarrage. D'ici là, l'ancienne version reste utilisée."
LangString CouldNotWrite ${LANG_ENGLISH} "The setup could not write its files into $INSTDIR (the disk may be full, or the folder protected). Nothing was changed."
LangString CouldNotWrite ${LANG_FRENCH} "L'installation n'a pas pu écrire ses fichiers dans $INSTDIR (le disque est peut-être plein, ou le dossier protégé). Rien n'a été modifié."
LangString CouldNotReplace ${LANG_ENGLISH} "The setup could not replace $ReplaceTarget in $INSTDIR, not even at the next restart. $FailNote Close JAWS, restart Windows and run the setup again."
LangString CouldNotReplace ${LANG_FRENCH} "L'installation n'a pas pu remplacer $ReplaceTarget dans $INSTDIR, même au prochain redémarrage. $FailNote Fermez JAWS, redémarrez Windows et relancez l'installation."
LangString NoneUpdated ${LANG_ENGLISH} "No file was changed."
LangString NoneUpdated ${LANG_FRENCH} "Aucun fichier n'a été modifié."
LangString SomeUpdated ${LANG_ENGLISH} "Files already updated:$Updated."
LangString SomeUpdated ${LANG_FRENCH} "Fichiers déjà mis à jour :$Updated."
LangString OldNotBack ${LANG_ENGLISH} "The old $ReplaceTarget could not be put back: it is in $INSTDIR as $OldName, and Windows puts it back when it restarts."
LangString OldNotBack ${LANG_FRENCH} "L'ancien $ReplaceTarget n'a pas pu être remis en place : il est dans $INSTDIR sous le nom $OldName, et Windows le remet en place à son redémarrage."
LangString OldNotBackNow ${LANG_ENGLISH} "The old $ReplaceTarget could not be put back: it is in $INSTDIR as $OldName. Rename it to $ReplaceTarget."
LangString OldNotBackNow ${LANG_FRENCH} "L'ancien $ReplaceTarget n'a pas pu être remis en place : il est dans $INSTDIR sous le nom $OldName. Renommez-le en $ReplaceTarget."
LangString NotEnoughSpace ${LANG_ENGLISH} "The disk of $INSTDIR has too little free space: the setup needs $0 KB and $1 KB are free. Free some space and run the setup again. Nothing was changed."
LangString NotEnoughSpace ${LANG_FRENCH} "Le disque de $INSTDIR n'a pas assez d'espace libre : l'installation a besoin de $0 Ko et $1 Ko sont libres. Libérez de l'espace et relancez l'installation. Rien n'a été modifié."
LangString CouldNotRegister ${LANG_ENGLISH} "The driver files are in $INSTDIR, but the setup could not write its uninstaller or its uninstall entry (the disk may be full). Free some space and run the setup again."
LangString CouldNotRegister ${LANG_FRENCH} "Les fichiers du pilote sont dans $INSTDIR, mais l'installation n'a pas pu écrire son programme de désinstallation ou son entrée de désinstallation (le disque est peut-être plein). Libérez de l'espace et relancez l'installation."
LangString RunsAsSystem ${LANG_ENGLISH} "The setup was started as the SYSTEM account, which it does not run as. To install on many computers, run it from an administrator account (start /wait Setup.exe /S). Nothing was installed."
LangString RunsAsSystem ${LANG_FRENCH} "L'installation a été lancée sous le compte SYSTEM, sous lequel elle ne s'exécute pas. Pour installer sur de nombreux ordinateurs, lancez-la depuis un compte administrateur (start /wait Setup.exe /S). Rien n'a été installé."
LangString NoSafeDllSearch ${LANG_ENGLISH} "This Windows lacks the update KB2533623 (safe loading of DLLs), without which the setup could load another program's code with administrator rights.$\r$\n$\r$\nInstall KB2533623 from Windows Update, then run this setup again. Nothing was installed."
LangString NoSafeDllSearch ${LANG_FRENCH} "Il manque à ce Windows la mise à jour KB2533623 (chargement sûr des DLL), sans laquelle l'installation pourrait charger le code d'un autre programme avec les droits d'administrateur.$\r$\n$\r$\nInstallez KB2533623 par Windows Update, puis relancez cette installation. Rien n'a été installé."
LangString NoUsableFolder ${LANG_ENGLISH} "JAWS names $1 as the folder for braille drivers of other makers, which is no usable folder: it is not a full path on a drive of this computer.$\r$\n$\r$\nRepair or reinstall JAWS, then run this setup again. Nothing was installed."
LangString NoUsableFolder ${LANG_FRENCH} "JAWS indique $1 comme dossier des pilotes braille d'autres fabricants, ce qui n'est pas un dossier utilisable : ce n'est pas un chemin complet sur un lecteur de cet ordinateur.$\r$\n$\r$\nRéparez ou réinstallez JAWS, puis relancez cette installation. Rien n'a été installé."
LangString FolderProtected ${LANG_ENGLISH} "Other users could change the files in $INSTDIR: the setup now lets only administrators and SYSTEM change that folder (users may read it), and the files in it follow."
LangString FolderProtected ${LANG_FRENCH} "D'autres utilisateurs pouvaient modifier les fichiers de $INSTDIR : l'installation ne permet plus qu'aux administrateurs et à SYSTEM de modifier ce dossier (les utilisateurs peuvent le lire), et les fichiers qu'il contient suivent."
LangString FolderNotProtected ${LANG_ENGLISH} "Other users can change the files in $INSTDIR, and so replace the driver JAWS runs for every user, and the setup could not let only administrators change that folder. Windows answered: $4$\r$\n$\r$\nLet only administrators and SYSTEM change it, then run this setup again. Nothing was installed."
LangString FolderNotProtected ${LANG_FRENCH} "D'autres utilisateurs peuvent modifier les fichiers de $INSTDIR, et donc remplacer le pilote que JAWS exécute pour tous les utilisateurs, et l'installation n'a pas pu réserver la modification de ce dossier aux administrateurs. Windows a répondu : $4$\r$\n$\r$\nNe permettez qu'aux administrateurs et à SYSTEM de le modifier, puis relancez cette installation. Rien n'a été installé."
LangString CouldNotReadFolder ${LANG_ENGLISH} "The setup could not look up the folder where JAWS keeps braille drivers of other makers: its helper library Pellacore.dll could not be loaded (a security policy or an antivirus may block it).$\r$\n$\r$\nNothing was installed."
LangString CouldNotReadFolder ${LANG_FRENCH} "L'installation n'a pas pu trouver le dossier où JAWS range les pilotes braille d'autres fabricants : sa bibliothèque Pellacore.dll n'a pas pu être chargée (une stratégie de sécurité ou un antivirus la bloque peut-être).$\r$\n$\r$\nRien n'a été installé."
LangString NoLog ${LANG_ENGLISH} "The setup did not write its log $LogPath: $LogProblem$\r$\n$\r$\nNothing was installed."
LangString NoLog ${LANG_FRENCH} "L'installation n'a pas écrit son journal $LogPath : $LogProblem$\r$\n$\r$\nRien n'a été installé."
LangString LogIsLink ${LANG_ENGLISH} "that path is a link or goes through one, and could lead elsewhere. Name a new file in a folder of your own."
LangString LogIsLink ${LANG_FRENCH} "ce chemin est un lien ou passe par un lien, et pourrait mener ailleurs. Indiquez un nouveau fichier dans un dossier à vous."
LangString LogExists ${LANG_ENGLISH} "a file of that name exists already, and the setup writes its log only into a new file."
LangString LogExists ${LANG_FRENCH} "un fichier de ce nom existe déjà, et l'installation n'écrit son journal que dans un nouveau fichier."
LangString LogNoFolder ${LANG_ENGLISH} "it could not create a new folder of its own for it in $TEMP."
LangString LogNoFolder ${LANG_FRENCH} "elle n'a pas pu créer de nouveau dossier à elle pour ce journal dans $TEMP."
LangString LogNotCreated ${LANG_ENGLISH} "Windows answered: $4"
LangString LogNotCreated ${LANG_FRENCH} "Windows a répondu : $4"
LangString FinishRestartText ${LANG_ENGLISH} "The Cellivanta VK driver is installed in $INSTDIR, but a file in use is replaced only when Windows restarts. Until then JAWS keeps the old driver."
LangString FinishRestartText ${LANG_FRENCH} "Le pilote Cellivanta VK est installé dans $INSTDIR, mais un fichier utilisé n'est remplacé qu'au redémarrage de Windows. D'ici là, JAWS garde l'ancien pilote."
LangString KeyMapStays ${LANG_ENGLISH} "Your changed key map stays in $INSTDIR\${KEYMAP}."
LangString KeyMapStays ${LANG_FRENCH} "Votre fichier de touches modifié reste dans $INSTDIR\${KEYMAP}."
LangString RemovedAtRestart ${LANG_ENGLISH} "In use, removed when Windows restarts:$AtRestart."
LangString RemovedAtRestart ${LANG_FRENCH} "Utilisés, supprimés au redémarrage de Windows :$AtRestart."
LangString FilesLeft ${LANG_ENGLISH} "The uninstaller could not remove from $INSTDIR, not even at the next restart:$Left. The uninstall entry stays: close JAWS and the Cellivanta VK tools, then uninstall again."
LangString FilesLeft ${LANG_FRENCH} "La désinstallation n'a pas pu supprimer de $INSTDIR, même au prochain redémarrage :$Left. L'entrée de désinstallation reste : fermez JAWS et les outils Cellivanta VK, puis désinstallez de nouveau."
LangString RestartNotCancelled ${LANG_ENGLISH} "Windows could not be stopped from putting the new files in place at its next restart. Run the uninstaller again after that restart."
LangString RestartNotCancelled ${LANG_FRENCH} "Windows n'a pas pu être empêché de mettre en place les nouveaux fichiers à son prochain redémarrage. Relancez la désinstallation après ce redémarrage."

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
    !ifdef __UNINSTALL__
        Call un.WriteLog
    !else
        Call WriteLog
    !endif
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel ${CODE}
    Quit
!macroend

; Stops the setup while it installs, with what was changed in TEXT.
!macro FailInstall TEXT
    StrCpy $FailureSaid 1
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
; The log, opened at the start. A path given with /LOG= is the caller's
; choice; without one a silent setup makes a new folder of its own. Either way
; the log is a new file on a path without links, checked through its handle;
; $LogProblem says why there is none.
Function ${UN}OpenLog
    StrCpy $LogFile "-"
    StrCpy $LogProblem ""
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/LOG=" $1
    ${If} ${Errors}
        ${IfNot} ${Silent}
            Return
        ${EndIf}
        Call ${UN}MakeLogFolder
    ${Else}
        System::Call 'kernel32::GetFullPathNameW(w r1, i ${NSIS_MAX_STRLEN}, w .r0, p 0) i .r2'
        StrCpy $LogPath $0
        ${If} $2 == 0
            StrCpy $LogPath $1
        ${EndIf}
        Call ${UN}RefuseLinkedPath
    ${EndIf}
    ${If} $LogProblem == ""
        Call ${UN}CreateLog
    ${EndIf}
FunctionEnd

; $LogProblem set when $LogPath, or a folder on its way, is a link.
Function ${UN}RefuseLinkedPath
    StrCpy $5 $LogPath
    ${Do}
        System::Call 'kernel32::GetFileAttributesW(w r5) i .r6'
        ${If} $6 != -1
            IntOp $6 $6 & 0x400
            ${If} $6 != 0
                StrCpy $LogProblem "$(LogIsLink)"
                Return
            ${EndIf}
        ${EndIf}
        ${GetParent} $5 $6
        ${If} $6 == ""
            ${Break}
        ${EndIf}
        StrLen $7 $6
        ${If} $7 == 2
            StrCpy $6 "$6\"
        ${EndIf}
        ${If} $6 == $5
            ${Break}
        ${EndIf}
        StrCpy $5 $6
    ${Loop}
FunctionEnd

; $0 = 1 when the file or folder open in $2 is at $LogPath itself, not
; reached through a link or a folder swapped since it was checked.
Function ${UN}IsAtLogPath
    StrCpy $0 0
    System::Call 'kernel32::GetFinalPathNameByHandleW(p r2, w .r5, i ${NSIS_MAX_STRLEN}, i 0) i .r6'
    System::Call 'kernel32::GetLongPathNameW(w "$LogPath", w .r7, i ${NSIS_MAX_STRLEN}) i .r8'
    ${If} $6 == 0
    ${OrIf} $8 == 0
        Return
    ${EndIf}
    StrCpy $8 $7 2
    ${If} $8 == "\\"
        StrCpy $7 $7 "" 2
        StrCpy $7 "UNC\$7"
    ${EndIf}
    ${If} $5 == "\\?\$7"
        StrCpy $0 1
    ${EndIf}
FunctionEnd

; A new folder with a random name in the user's temporary folder, held open
; so that it cannot be renamed or swapped; for administrators and SYSTEM
; only when elevated. Sets $LogPath to the log in it, or $LogProblem.
Function ${UN}MakeLogFolder
    ; The temporary folder first: nothing is made behind a link.
    StrCpy $LogPath $TEMP
    Call ${UN}RefuseLinkedPath
    ${If} $LogProblem != ""
        Return
    ${EndIf}
    StrCpy $LogProblem "$(LogNoFolder)"
    Call ${UN}PrivateFolderSecurity
    ${If} $1 == -1
        Return  ; elevated, without the folder's own access list
    ${EndIf}
    StrCpy $9 0
    ${Do}
        System::Call 'advapi32::SystemFunction036(*i .r3, i 4) i .r4'
        System::Call 'advapi32::SystemFunction036(*i .r5, i 4) i .r6'
        ${If} $4 == 0
        ${OrIf} $6 == 0
            ${Break}
        ${EndIf}
        IntFmt $3 "%08X" $3
        IntFmt $5 "%08X" $5
        StrCpy $LogPath "$TEMP\Cellivanta VK setup $3$5"
        System::Call 'kernel32::CreateDirectoryW(w "$LogPath", p r1) i .r2'
        ${If} $2 != 0
            StrCpy $LogProblem ""
            ${Break}
        ${EndIf}
        IntOp $9 $9 + 1
    ${LoopUntil} $9 >= 5
    ${If} $1 != 0
        System::Call 'kernel32::LocalFree(p r0)'
        System::Free $1
    ${EndIf}
    ${If} $LogProblem != ""
        Return
    ${EndIf}
    ; GENERIC_READ, share read and write but not delete, OPEN_EXISTING,
    ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT.
    System::Call 'kernel32::CreateFileW(w "$LogPath", i 0x80000000, i 3, p 0, i 3, i 0x02200000, p 0) p .r2'
    StrCpy $LogProblem "$(LogNoFolder)"
    ${If} $2 == -1
        Return
    ${EndIf}
    StrCpy $LogFolder $2
    Call ${UN}IsAtLogPath
    ; Opened as it is, not followed: a link swapped in shows as one.
    System::Alloc 52
    Pop $3
    System::Call 'kernel32::GetFileInformationByHandle(p r2, p r3) i .r4'
    System::Call '*$3(i .r5)'
    System::Free $3
    IntOp $5 $5 & 0x400
    ${If} $0 != 1
    ${OrIf} $4 == 0
    ${OrIf} $5 != 0
        ; Let go, and take away what was made: RemoveDirectory removes only
        ; an empty folder, or a link itself, never what a link leads to.
        System::Call 'kernel32::CloseHandle(p r2)'
        StrCpy $LogFolder ""
        System::Call 'kernel32::RemoveDirectoryW(w "$LogPath")'
        Return
    ${EndIf}
    StrCpy $LogProblem ""
    StrCpy $LogPath "$LogPath\${LOG_NAME}"
FunctionEnd

; $1: security attributes for a folder of administrators and SYSTEM only when
; the setup runs elevated (its descriptor in $0), else 0: the user's own;
; -1 when elevated and that access list could not be made.
Function ${UN}PrivateFolderSecurity
    StrCpy $1 0
    System::Call 'kernel32::GetCurrentProcess() p .r2'
    ; TOKEN_QUERY; TokenElevation
    System::Call 'advapi32::OpenProcessToken(p r2, i 8, *p .r3) i .r4'
    ${If} $4 == 0
        Return
    ${EndIf}
    System::Call 'advapi32::GetTokenInformation(p r3, i 20, *i .r5, i 4, *i .r6) i .r4'
    System::Call 'kernel32::CloseHandle(p r3)'
    ${If} $4 == 0
    ${OrIf} $5 == 0
        Return
    ${EndIf}
    StrCpy $1 -1
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", i 1, *p .r0, p 0) i .r4'
    ${If} $4 != 0
        System::Call '*(i 12, p r0, i 0) p .r1'
    ${EndIf}
    ${If} $1 == 0
        StrCpy $1 -1
        System::Call 'kernel32::LocalFree(p r0)'
    ${EndIf}
FunctionEnd

; Creates $LogPath as a new file (never an existing one, never through a
; link), marked as UTF-8; or says why in $LogProblem.
Function ${UN}CreateLog
    ; GENERIC_WRITE | DELETE, share read, CREATE_NEW,
    ; FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT.
    System::Call 'kernel32::CreateFileW(w "$LogPath", i 0x40010000, i 1, p 0, i 1, i 0x00200080, p 0) p .r2 ?e'
    Pop $3
    ${If} $2 == -1
        ${If} $3 == 80
            StrCpy $LogProblem "$(LogExists)"
            ; A link to a file elsewhere (which may not show as one) ends
            ; elsewhere.
            System::Call 'kernel32::CreateFileW(w "$LogPath", i 0, i 7, p 0, i 3, i 0x02000000, p 0) p .r2'
            ${If} $2 != -1
                Call ${UN}IsAtLogPath
                System::Call 'kernel32::CloseHandle(p r2)'
                ${If} $0 != 1
                    StrCpy $LogProblem "$(LogIsLink)"
                ${EndIf}
            ${EndIf}
        ${Else}
            System::Call 'kernel32::FormatMessageW(i 0x1200, p 0, i r3, i 0, w .r4, i ${NSIS_MAX_STRLEN}, p 0)'
            StrCpy $LogProblem "$(LogNotCreated)"
        ${EndIf}
        Return
    ${EndIf}
    Call ${UN}IsAtLogPath
    ${If} $0 != 1
        ; The file is new and ours: it goes through its handle, not its path.
        System::Call 'kernel32::SetFileInformationByHandle(p r2, i 4, *i 1, i 1)'
        System::Call 'kernel32::CloseHandle(p r2)'
        StrCpy $LogProblem "$(LogIsLink)"
        Return
    ${EndIf}
    StrCpy $LogFile $2
    ; The byte order mark, so that any reader takes the text as UTF-8.
    System::Call 'kernel32::WriteFile(p r2, *i 0xBFBBEF, i 3, *i .r3, p 0)'
FunctionEnd

; Writes the line on the stack into the log, when there is one, in UTF-8:
; folder names outside the code page stay right.
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
        StrCpy $R0 "$R0$\r$\n"
        System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r10, i -1, p 0, i 0, p 0, p 0) i .r1'
        System::Alloc $1
        Pop $2
        System::Call 'kernel32::WideCharToMultiByte(i 65001, i 0, w r10, i -1, p r2, i r1, p 0, p 0) i .r1'
        IntOp $1 $1 - 1
        System::Call 'kernel32::WriteFile(p $LogFile, p r2, i r1, *i .r3, p 0)'
        System::Free $2
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

; Before anything else: where the safe DLL search is missing, DLLs loaded by
; name later (the crypto provider behind the key map's hash) would be looked
; for in the setup's own folder first.
!macro RefuseWithoutSafeDllSearch
    System::Call 'kernel32::GetModuleHandleW(w "kernel32.dll") p .r0'
    System::Call 'kernel32::GetProcAddress(p r0, m "SetDefaultDllDirectories") p .r0'
    ${If} $0 == 0
        !insertmacro StopSetup "$(NoSafeDllSearch)" ${EXIT_NO_SAFE_DLL_SEARCH}
    ${EndIf}
!macroend

; Run as SYSTEM, the setup engine unpacks into a temporary folder that
; others may prepare (a known weakness of the engine's version we build
; with): it refuses, and a deployment runs it from an administrator account.
!macro RefuseAsSystem
    System::Call 'kernel32::GetCurrentProcess() p .r0'
    ; TOKEN_QUERY; TokenUser
    System::Call 'advapi32::OpenProcessToken(p r0, i 8, *p .r1) i .r2'
    ${If} $2 != 0
        System::Alloc 256
        Pop $3
        System::Call 'advapi32::GetTokenInformation(p r1, i 1, p r3, i 256, *i .r4) i .r2'
        System::Call '*$3(p .r4)'
        ; WinLocalSystemSid
        ${If} $2 != 0
            System::Call 'advapi32::IsWellKnownSid(p r4, i 22) i .r2'
        ${EndIf}
        System::Free $3
        System::Call 'kernel32::CloseHandle(p r1)'
        ${If} $2 != 0
            !insertmacro StopSetup "$(RunsAsSystem)" ${EXIT_RUNS_AS_SYSTEM}
        ${EndIf}
    ${EndIf}
!macroend

; A setup asked for a log that it cannot have stops: it never succeeds
; silently with no record of what it did.
!macro RequireLog
    !ifdef __UNINSTALL__
        Call un.OpenLog
    !else
        Call OpenLog
    !endif
    ${If} $LogProblem != ""
        !insertmacro StopSetup "$(NoLog)" ${EXIT_NO_LOG}
    ${EndIf}
!macroend

Function .onInit
    !insertmacro RefuseWithoutSafeDllSearch
    !insertmacro RefuseAsSystem
    !insertmacro RequireLog
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
        !insertmacro StopSetup "$(CouldNotReadFolder)" ${EXIT_COULD_NOT_CHECK}
    ${ElseIf} $0 != 1
    ${OrIf} $1 == ""
        !insertmacro StopSetup "$(NoJawsFolder)" ${EXIT_NO_JAWS_FOLDER}
    ${EndIf}
    Call CheckFolderIsLocal
    StrCpy $INSTDIR $1
    Call CheckVersion
FunctionEnd

; The folder JAWS names ($1) must be a full path on a local drive ("C:\..."):
; a relative path would be taken from wherever the setup runs, a network
; share may change under it, and neither is what JAWS reads its drivers from.
Function CheckFolderIsLocal
    StrCpy $2 $1 2 1
    StrCpy $3 $1 3
    System::Call 'kernel32::GetDriveTypeW(w r3) i .r4'
    ; DRIVE_REMOVABLE, DRIVE_FIXED, DRIVE_RAMDISK
    ${If} $2 != ":\"
    ${OrIf} $4 < 2
    ${OrIf} $4 = 4
    ${OrIf} $4 = 5
    ${OrIf} $4 > 6
        !insertmacro StopSetup "$(NoUsableFolder)" ${EXIT_NO_USABLE_FOLDER}
    ${EndIf}
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
; $ReplaceFailed = 1 when neither worked; the old file is then put back, and
; $FailNote says what was changed.
Function ReplaceFile
    StrCpy $ReplaceFailed 0
    StrCpy $FailNote "$(NoneUpdated)"
    ${If} $Updated != ""
        StrCpy $FailNote "$(SomeUpdated)"
    ${EndIf}
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
        Delete $ReplaceSource
        StrCpy $ReplaceFailed 1
        ${If} $1 != ""
            Call PutOldFileBack
        ${EndIf}
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
        ${GetFileName} $1 $OldName
        StrCpy $3 "$(OldRemovedAtRestart)"
        ${If} $2 == 0
            StrCpy $3 "$(OldFileStays)"
        ${EndIf}
        ${If} $ReplaceTarget == "VK.JLB"
            StrCpy $DriverInUse 1
            StrCpy $DriverOldNote $3
        ${ElseIf} $2 == 0
            !insertmacro Say $3
            StrCpy $FinishNotes "$FinishNotes$\r$\n$\r$\n$3"
        ${EndIf}
    ${EndIf}
FunctionEnd

; The old file, renamed aside to $1, back at $0 after a failed replacement;
; where even that fails, back at the restart, and $FailNote says where it is.
Function PutOldFileBack
    ClearErrors
    Rename $1 $0
    ${IfNot} ${Errors}
        Return
    ${EndIf}
    ${GetFileName} $1 $OldName
    ; MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT
    System::Call 'kernel32::MoveFileExW(w r1, w r0, i 5) i .r2'
    ${If} $2 == 0
        StrCpy $FailNote "$FailNote $(OldNotBackNow)"
    ${Else}
        StrCpy $FailNote "$FailNote $(OldNotBack)"
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

!macro AddIfSidIs WELL_KNOWN
    System::Call 'advapi32::IsWellKnownSid(p r6, i ${WELL_KNOWN}) i .r3'
    ${If} $3 != 0
        StrCpy $0 1
    ${EndIf}
!macroend

; $0 = 1 when an entry of the access list of $INSTDIR lets Users,
; Authenticated Users, Everyone or the interactive users add, change or
; remove what is in it, or change who may (no access list lets everyone).
Function FolderLetsOthersWrite
    StrCpy $0 1
    ; SE_FILE_OBJECT, DACL_SECURITY_INFORMATION
    System::Call 'advapi32::GetNamedSecurityInfoW(w "$INSTDIR", i 1, i 4, p 0, p 0, *p .r1, p 0, *p .r2) i .r3'
    ${If} $3 != 0
        Return
    ${EndIf}
    ${If} $1 != 0
        StrCpy $0 0
        ; ACL: AclRevision, Sbz1, AclSize, AceCount
        System::Call '*$1(&i1 .r3, &i1 .r3, &i2 .r3, &i2 .r4)'
        StrCpy $5 0
        ${While} $5 < $4
            System::Call 'advapi32::GetAce(p r1, i r5, *p .r6) i .r3'
            ; ACE_HEADER (AceType, AceFlags, AceSize), Mask, then the SID
            System::Call '*$6(&i1 .r7, &i1 .r3, &i2 .r3, i .r8)'
            IntOp $6 $6 + 8
            ; FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_DELETE_CHILD, WRITE_DAC,
            ; WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE
            IntOp $8 $8 & 0x500C0046
            ; ACCESS_ALLOWED_ACE_TYPE, to WinWorldSid, WinInteractiveSid,
            ; WinAuthenticatedUserSid or WinBuiltinUsersSid
            ${If} $3 != 0
            ${AndIf} $7 == 0
            ${AndIf} $8 != 0
                !insertmacro AddIfSidIs 1
                !insertmacro AddIfSidIs 11
                !insertmacro AddIfSidIs 17
                !insertmacro AddIfSidIs 27
            ${EndIf}
            IntOp $5 $5 + 1
        ${EndWhile}
    ${EndIf}
    System::Call 'kernel32::LocalFree(p r2)'
FunctionEnd

; A folder other users may change would let one of them swap the driver
; that JAWS then runs for every user: it gets an access list of its own,
; owned by administrators, which its files inherit. One that cannot be
; narrowed stops the setup before anything is written.
Function ProtectFolder
    Call FolderLetsOthersWrite
    ${If} $0 == 0
        Return
    ${EndIf}
    ; ERROR_ACCESS_DENIED, should the access list not be made or not hold
    StrCpy $9 5
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", i 1, *p .r1, p 0) i .r2'
    ${If} $2 != 0
        System::Call 'advapi32::GetSecurityDescriptorOwner(p r1, *p .r5, *i .r6)'
        System::Call 'advapi32::GetSecurityDescriptorDacl(p r1, *i .r6, *p .r7, *i .r6)'
        ; OWNER | DACL | PROTECTED_DACL_SECURITY_INFORMATION
        System::Call 'advapi32::SetNamedSecurityInfoW(w "$INSTDIR", i 1, i 0x80000005, p r5, p 0, p r7, p 0) i .r2'
        ${If} $2 != 0
            StrCpy $9 $2
        ${EndIf}
        System::Call 'kernel32::LocalFree(p r1)'
    ${EndIf}
    ; What Windows keeps is checked, not what was asked for.
    Call FolderLetsOthersWrite
    ${If} $0 == 0
        !insertmacro Say "$(FolderProtected)"
        StrCpy $FinishNotes "$FinishNotes$\r$\n$\r$\n$(FolderProtected)"
        Return
    ${EndIf}
    System::Call 'kernel32::FormatMessageW(i 0x12FF, p 0, i r9, i 0, w .r4, i ${NSIS_MAX_STRLEN}, p 0)'
    ${If} $FolderCreated == 1
        RMDir $INSTDIR
    ${EndIf}
    !insertmacro StopSetup "$(FolderNotProtected)" ${EXIT_FOLDER_NOT_PROTECTED}
FunctionEnd

; Stops before anything is written when the disk of $INSTDIR has too little
; room for the new files beside the old ones and the uninstaller.
Function CheckFreeSpace
    SectionGetSize 0 $0
    IntOp $0 $0 + ${UNINSTALLER_KB}
    ; The nearest folder that exists (a drive's root has no "." to find).
    StrCpy $2 $INSTDIR
    ${Do}
        System::Call 'kernel32::GetFileAttributesW(w "$2\") i .r3'
        ${If} $3 != -1
            ${Break}
        ${EndIf}
        ${GetParent} $2 $3
        ${If} $3 == ""
            Return
        ${EndIf}
        StrCpy $2 $3
    ${Loop}
    System::Call 'kernel32::GetDiskFreeSpaceExW(w "$2\", *l .r1, p 0, p 0) i .r3'
    ${If} $3 == 0
        Return
    ${EndIf}
    System::Int64Op $1 >> 10
    Pop $1
    System::Int64Op $1 - $0
    Pop $3
    StrCpy $3 $3 1
    ${If} $3 == "-"
        !insertmacro FailInstall "$(NotEnoughSpace)"
    ${EndIf}
FunctionEnd

; The engine's own stop on a failed write (a full disk while a file is
; unpacked) ends here as well as the setup's: no part file stays behind, and
; the outcome is said and has its exit code.
Function .onInstFailed
    Call RemoveNewFiles
    ${If} $FolderCreated == 1
        RMDir $INSTDIR
    ${EndIf}
    ${If} $FailureSaid != 1
        !insertmacro Say "$(CouldNotWrite)"
    ${EndIf}
    SetErrorLevel ${EXIT_WRITE_FAILED}
FunctionEnd

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
    Call CheckFreeSpace
    StrCpy $FolderCreated 0
    ${IfNot} ${FileExists} "$INSTDIR\*.*"
        StrCpy $FolderCreated 1
    ${EndIf}
    SetOutPath "$INSTDIR"
    Call ProtectFolder
    ; A .part file already there may be another user's, planted to be
    ; written into (keeping its owner and access list) and swapped later:
    ; each goes first, and one that cannot go stops the setup.
    Call RemoveNewFiles
    ${If} ${FileExists} "$INSTDIR\VK.JLB.part"
    ${OrIf} ${FileExists} "$INSTDIR\vkkeys.exe.part"
    ${OrIf} ${FileExists} "$INSTDIR\vkdiag.exe.part"
    ${OrIf} ${FileExists} "$INSTDIR\${KEYMAP}.part"
        !insertmacro FailInstall "$(CouldNotWrite)"
    ${EndIf}
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

    ClearErrors
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
    ; The error flag stays set from any of the writes above.
    ${If} ${Errors}
        !insertmacro FailInstall "$(CouldNotRegister)"
    ${EndIf}
    ; The folder is JAWS's: the uninstaller removes it only if this setup made
    ; it. A repair keeps what the first install recorded.
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "FolderCreated"
    ${If} $InstalledVersion == ""
    ${OrIf} $0 == ""
        ClearErrors
        WriteRegDWORD HKLM "${UNINSTALL_KEY}" "FolderCreated" $FolderCreated
    ${EndIf}
    ${If} ${Errors}
        !insertmacro FailInstall "$(CouldNotRegister)"
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

Function un.onInit
    ; It loads a DLL by name too (the crypto provider behind the key map's hash).
    !insertmacro RefuseWithoutSafeDllSearch
    !insertmacro RefuseAsSystem
    !insertmacro RequireLog
FunctionEnd

; Removes $0 now, or at the next restart when it is in use; what stays is
; named in $AtRestart or, when not even that worked, in $Left.
Function un.RemoveFile
    ${IfNot} ${FileExists} $0
        Return
    ${EndIf}
    ClearErrors
    Delete /REBOOTOK $0
    ${GetFileName} $0 $1
    ${If} ${Errors}
        StrCpy $Left "$Left $1"
    ${ElseIf} ${FileExists} $0
        StrCpy $AtRestart "$AtRestart $1"
    ${EndIf}
FunctionEnd

!macro RemoveFile NAME
    StrCpy $0 "$INSTDIR\${NAME}"
    Call un.RemoveFile
!macroend

; An install that asked for a restart left new files (*.part) to be moved in
; place then: without this, the restart would bring the driver back after the
; uninstall. Takes them out of the renames Windows does at its start.
Function un.CancelPendingReplacements
    ; KEY_QUERY_VALUE | KEY_SET_VALUE
    System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${SESSION_MANAGER}", i 0, i 3, *p .r0) i .r1'
    ${If} $1 != 0
        Return
    ${EndIf}
    System::Call 'advapi32::RegQueryValueExW(p r0, w "${PENDING_RENAMES}", p 0, *i .r2, p 0, *i .r3) i .r1'
    ${If} $1 != 0
    ${OrIf} $2 != 7
        System::Call 'advapi32::RegCloseKey(p r0)'
        Return
    ${EndIf}
    ; Zeroed, with room for terminators the value may lack.
    IntOp $3 $3 + 4
    System::Alloc $3
    Pop $4
    System::Alloc $3
    Pop $5
    System::Call 'advapi32::RegQueryValueExW(p r0, w "${PENDING_RENAMES}", p 0, p 0, p r4, *i r3) i .r1'
    StrLen $R0 "\??\$INSTDIR\"
    StrCpy $6 $4
    StrCpy $7 $5
    StrCpy $8 0
    ${DoWhile} $1 == 0
        ; Pairs of names: the file, then where it goes ("" to delete it).
        System::Call 'kernel32::lstrlenW(p r6) i .r9'
        ${If} $9 == 0
            ${Break}
        ${EndIf}
        System::Call 'kernel32::lstrcpynW(w .R1, p r6, i ${NSIS_MAX_STRLEN})'
        IntOp $R2 $9 + 1
        IntOp $R2 $R2 * 2
        IntOp $R3 $6 + $R2
        System::Call 'kernel32::lstrlenW(p R3) i .R3'
        IntOp $R3 $R3 + 1
        IntOp $R3 $R3 * 2
        IntOp $R2 $R2 + $R3
        ; Only the names this setup registers: other makers' renames stay.
        StrCpy $R4 $R1 $R0
        StrCpy $R5 $R1 "" $R0
        StrCpy $R6 0
        ${If} $R4 == "\??\$INSTDIR\"
            ${If} $R5 == "VK.JLB.part"
            ${OrIf} $R5 == "vkkeys.exe.part"
            ${OrIf} $R5 == "vkdiag.exe.part"
            ${OrIf} $R5 == "${KEYMAP}.part"
                StrCpy $R6 1
            ${EndIf}
        ${EndIf}
        ${If} $R6 == 1
            IntOp $8 $8 + 1
        ${Else}
            System::Call 'kernel32::RtlMoveMemory(p r7, p r6, i R2)'
            IntOp $7 $7 + $R2
        ${EndIf}
        IntOp $6 $6 + $R2
    ${Loop}
    ${If} $8 != 0
        IntOp $7 $7 - $5
        ${If} $7 == 0
            System::Call 'advapi32::RegDeleteValueW(p r0, w "${PENDING_RENAMES}") i .r1'
        ${Else}
            IntOp $7 $7 + 2
            System::Call 'advapi32::RegSetValueExW(p r0, w "${PENDING_RENAMES}", i 0, i 7, p r5, i r7) i .r1'
        ${EndIf}
        ${If} $1 != 0
            !insertmacro Say "$(RestartNotCancelled)"
            StrCpy $Left "$Left *.part"
        ${EndIf}
    ${EndIf}
    System::Free $4
    System::Free $5
    System::Call 'advapi32::RegCloseKey(p r0)'
FunctionEnd

Section "Uninstall"
    ReadRegStr $ShippedHash HKLM "${UNINSTALL_KEY}" "KeyMapSha256"
    Call un.CancelPendingReplacements
    !insertmacro RemoveFile "VK.JLB"
    !insertmacro RemoveFile "VK.JLB.old-*"
    !insertmacro RemoveFile "vkkeys.exe"
    !insertmacro RemoveFile "vkkeys.exe.old-*"
    !insertmacro RemoveFile "vkdiag.exe"
    !insertmacro RemoveFile "vkdiag.exe.old-*"
    !insertmacro RemoveFile "${KEYMAP}.new"
    ; New files an install left for the restart that never came.
    !insertmacro RemoveFile "VK.JLB.part"
    !insertmacro RemoveFile "vkkeys.exe.part"
    !insertmacro RemoveFile "vkdiag.exe.part"
    !insertmacro RemoveFile "${KEYMAP}.part"
    ${If} ${FileExists} "$INSTDIR\${KEYMAP}"
        StrCpy $HashPath "$INSTDIR\${KEYMAP}"
        Call un.Sha256OfFile
        Call un.IsShippedKeyMap
        ${If} $0 == 1
            !insertmacro RemoveFile "${KEYMAP}"
        ${Else}
            !insertmacro Say "$(KeyMapStays)"
            ; The uninstaller has no last page: a box is what the user hears.
            MessageBox MB_OK|MB_ICONINFORMATION "$(KeyMapStays)" /SD IDOK
        ${EndIf}
    ${EndIf}
    ${If} $AtRestart != ""
        !insertmacro Say "$(RemovedAtRestart)"
    ${EndIf}
    ; Files that stay keep the entry and the uninstaller, to run again.
    ${If} $Left != ""
        !insertmacro Say "$(FilesLeft)"
        MessageBox MB_OK|MB_ICONSTOP "$(FilesLeft)" /SD IDOK
        SetErrorLevel ${EXIT_WRITE_FAILED}
        Return
    ${EndIf}
    Delete "$INSTDIR\${UNINSTALLER}"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "FolderCreated"
    ${If} $0 == 1
        RMDir /REBOOTOK "$INSTDIR"
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
