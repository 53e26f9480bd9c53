; Setup package of the Cellivanta VK braille driver for JAWS (Setup.exe).
;
; Puts VK.JLB and its key map kvbrl.ini into the folder where JAWS looks for
; braille drivers of other makers, as JAWS itself records it in the registry
; (asked through Pellacore). Without that folder JAWS could never load the
; driver, so the setup then stops and installs nothing; so it does on 32-bit
; Windows, where the 64-bit driver cannot load. Runs silently with /S.
; The uninstaller removes exactly what the setup put there. The uninstall
; entry runs it in place (_?=), never as a copy in the user's temporary
; folder; it removes itself when Windows restarts. One that leaves a file in
; use for the restart says so and exits with 3010.
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
; The folder JAWS names is no usable folder: not a full path on a local
; drive, a link or reached through one, or recorded so that it names none
; (not text, too long, a variable Windows does not define).
!define EXIT_NO_USABLE_FOLDER 11
; Other users may change the folder, and its access list could not be
; narrowed to administrators.
!define EXIT_FOLDER_NOT_PROTECTED 12
; A file in the folder that the setup did not write, where it writes its new
; files first (VK.JLB.part ...), could not be removed: another program holds it.
!define EXIT_FOREIGN_FILE 13
; The platform's "success, restart required": a file in use is replaced (or,
; uninstalling, removed) at the next restart.
!define EXIT_RESTART_NEEDED 3010
!define KEYMAP "kvbrl.ini"
; What the uninstaller adds to the files' size on the disk, with room to spare.
!define UNINSTALLER_KB 1024

; The files the setup installs: their names in $INSTDIR and what they are
; built from. Each step on all of them goes through this list.
!macro ForEachPayload STEP
    !insertmacro ${STEP} "VK.JLB" "${VK_JLB}"
    !insertmacro ${STEP} "vkkeys.exe" "${VKKEYS_EXE}"
    !insertmacro ${STEP} "vkdiag.exe" "${VKDIAG_EXE}"
    !insertmacro ${STEP} "${KEYMAP}" "${KVBRL_INI}"
!macroend

Name "$(ProductName)"
OutFile "${OUTFILE}"
ShowInstDetails show
ShowUninstDetails show

Var FolderCreated
; The handle that holds $INSTDIR while the setup works in it, and what was
; changed about who may change it ("" when nothing).
Var FolderHandle
Var FolderChange
; The log's handle: empty until the first line, "-" when there is none.
Var LogFile
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
; The uninstall page's last line: done, or done at the restart.
Var UninstallOutcome

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
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "$UninstallOutcome"
!insertmacro MUI_UNPAGE_INSTFILES

; The first language is the one used when the user's is neither.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "French"

!include "${__FILEDIR__}/English.nsh"
!include "${__FILEDIR__}/French.nsh"

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
!macro FailInstallWith TEXT CODE
    StrCpy $FailureSaid 1
    !insertmacro Say "${TEXT}"
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel ${CODE}
    Abort
!macroend
!macro FailInstall TEXT
    !insertmacro FailInstallWith "${TEXT}" ${EXIT_WRITE_FAILED}
!macroend

; Key maps shipped by earlier versions: still unchanged, so still ours to
; replace. Add the SHA-256 of each shipped key map when it changes.
!macro ShippedKeyMap HASH
    StrCmp $HashHex "${HASH}" shipped
!macroend

; The plug-ins folder, where the engine unpacks its System plug-in and the
; setup its helper library before loading them, is by default made in the
; temporary folder, which for an elevated setup is the user's own: a program
; of the user could swap what is loaded there between the unpacking and the
; load. It goes instead into a new folder in Program Files, which only
; administrators can change and whose files they alone can write; so before
; any plug-in is called. A setup that cannot write there is not elevated,
; and keeps the engine's folder in its user's own temporary folder.
!macro PluginsDirForAdministrators
    StrCpy $0 0
    ${Do}
        StrCpy $1 "$PROGRAMFILES\Cellivanta VK setup $0"
        ${IfNot} ${FileExists} "$1\*.*"
            ClearErrors
            CreateDirectory $1
            ${IfNot} ${Errors}
                UnsafeStrCpy $PLUGINSDIR $1
                ${Break}
            ${EndIf}
        ${EndIf}
        IntOp $0 $0 + 1
    ${LoopUntil} $0 >= 10
    ; The helper library, which writes the log, before the first line. It
    ; imports only the system's known DLLs, so it loads safely even before
    ; the safe DLL search is checked.
    InitPluginsDir
    File "/oname=$PLUGINSDIR\Pellacore.dll" "${PELLACORE_DLL}"
!macroend

!macro CommonFunctions UN
; Readies $INSTDIR through the helper library (made when missing; no link on
; it or above it; only administrators may change it) and holds it open in
; $FolderHandle, so that nothing on its path can be swapped while the setup
; works. $0 is the helper's answer: 2 made, 3 narrowed, 4 owner changed, 5 a
; link, 0 failed (the error's text in $4), "error" when it could not load.
Function ${UN}SecureFolder
    StrCpy $5 ""
    System::Call '$PLUGINSDIR\Pellacore::SecureSetupFolder(w "$INSTDIR", *p .r5, *i .r4) i .r0 ?u'
    StrCpy $FolderHandle $5
    ${If} $0 == 0
    ${OrIf} $0 == "error"
        System::Call 'kernel32::FormatMessageW(i 0x12FF, p 0, i r4, i 0, w .r4, i ${NSIS_MAX_STRLEN}, p 0)'
    ${EndIf}
    ${If} $0 == 5
        !insertmacro StopSetup "$(FolderIsLink)" ${EXIT_NO_USABLE_FOLDER}
    ${EndIf}
FunctionEnd

; Lets go of $INSTDIR, which can then be removed.
Function ${UN}ReleaseFolder
    ${If} $FolderHandle != ""
        System::Call 'kernel32::CloseHandle(p $FolderHandle)'
        StrCpy $FolderHandle ""
    ${EndIf}
FunctionEnd

; The log, opened at the start through the helper library. A path given
; with /LOG= is the caller's choice; without one a silent setup makes a new
; folder of its own. Either way the log is a new file on a path without links,
; checked through its handle; $LogProblem says why there is none. A library
; that did not load writes no log: the setup then stops with its own code.
Function ${UN}OpenLog
    StrCpy $LogFile "-"
    StrCpy $LogProblem ""
    ${GetParameters} $0
    ClearErrors
    StrCpy $5 ""
    ${GetOptions} $0 "/LOG=" $1
    ${If} ${Errors}
        ${IfNot} ${Silent}
            Return
        ${EndIf}
        StrCpy $1 ""
        StrCpy $5 $TEMP
    ${EndIf}
    System::Call '$PLUGINSDIR\Pellacore::OpenSetupLog(w r1, w r5, i ${NSIS_MAX_STRLEN}, w .r2, *p .r3, *i .r4) i .r0 ?u'
    StrCpy $LogPath $2
    ${If} $0 == 1
        StrCpy $LogFile $3
    ${ElseIf} $0 == 2
        StrCpy $LogProblem "$(LogIsLink)"
    ${ElseIf} $0 == 3
        StrCpy $LogProblem "$(LogNoFolder)"
    ${ElseIf} $0 == 4
        StrCpy $LogProblem "$(LogExists)"
    ${ElseIf} $0 == 0
        System::Call 'kernel32::FormatMessageW(i 0x1200, p 0, i r4, i 0, w .r4, i ${NSIS_MAX_STRLEN}, p 0)'
        StrCpy $LogProblem "$(LogNotCreated)"
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
    ${If} $LogFile == ""
        Call ${UN}OpenLog
    ${EndIf}
    ${If} $LogFile != "-"
        System::Call '$PLUGINSDIR\Pellacore::WriteSetupLog(p $LogFile, w r10) ?u'
    ${EndIf}
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
    Pop $R0
FunctionEnd

; The SHA-256 of $HashPath in $HashHex (lower-case hex), "" when the file
; cannot be read or is larger than a key map.
Function ${UN}Sha256OfFile
    System::Call '$PLUGINSDIR\Pellacore::Sha256OfFile(w "$HashPath", i 65, w .r0) i .r1 ?u'
    StrCpy $HashHex ""
    ${If} $1 == 1
        StrCpy $HashHex $0
    ${EndIf}
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
    !insertmacro CallPellacore "RunsAsSystem() i .r0"
    ${If} $0 == 1
        !insertmacro StopSetup "$(RunsAsSystem)" ${EXIT_RUNS_AS_SYSTEM}
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
    !insertmacro PluginsDirForAdministrators
    !insertmacro RefuseWithoutSafeDllSearch
    !insertmacro RefuseAsSystem
    !insertmacro RequireLog
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
    ${ElseIf} $0 == 2
        !insertmacro StopSetup "$(FolderValueUnusable)" ${EXIT_NO_USABLE_FOLDER}
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

; A folder other users may change would let one of them swap the driver
; that JAWS then runs for every user, and the uninstaller an administrator
; later runs: it is narrowed to administrators before anything is written,
; and one that cannot be stops the setup.
Function PrepareFolder
    Call SecureFolder
    StrCpy $FolderChange ""
    ${If} $0 == 2
        StrCpy $FolderCreated 1
    ${ElseIf} $0 == 3
        StrCpy $FolderChange "$(FolderProtected)"
    ${ElseIf} $0 == 4
        StrCpy $FolderChange "$(FolderOwned)"
    ${ElseIf} $0 != 1
        !insertmacro StopSetup "$(FolderNotProtected)" ${EXIT_FOLDER_NOT_PROTECTED}
    ${EndIf}
    ${If} $FolderChange != ""
        !insertmacro Say "$FolderChange"
        StrCpy $FinishNotes "$FinishNotes$\r$\n$\r$\n$FolderChange"
    ${EndIf}
FunctionEnd

; Stops before anything is written when the disk of $INSTDIR has too little
; room for the new files beside the old ones and the uninstaller.
Function CheckFreeSpace
    SectionGetSize 0 $0
    IntOp $0 $0 + ${UNINSTALLER_KB}
    ; Through a register: a folder's name may hold a quote.
    StrCpy $3 $INSTDIR
    !insertmacro CallPellacore "HasRoomFor(w r3, i r0, *i .r1) i .r2"
    ${If} $2 == 0
        !insertmacro FailInstall "$(NotEnoughSpace)"
    ${EndIf}
FunctionEnd

; The engine's own stop on a failed write (a full disk while a file is
; unpacked) ends here as well as the setup's: no part file stays behind, and
; the outcome is said and has its exit code.
Function .onInstFailed
    Call RemoveNewFiles
    Call ReleaseFolder
    ${If} $FolderCreated == 1
        RMDir $INSTDIR
    ${EndIf}
    ${If} $FailureSaid != 1
        !insertmacro Say "$(CouldNotWrite)"
        SetErrorLevel ${EXIT_WRITE_FAILED}
    ${EndIf}
FunctionEnd

!macro DeleteNewFile NAME SOURCE
    Delete "$INSTDIR\${NAME}.part"
!macroend
Function RemoveNewFiles
    !insertmacro ForEachPayload DeleteNewFile
FunctionEnd

; $0: the first new file's name that is still there ("" when none).
!macro FindNewFileLeft NAME SOURCE
    ${If} $0 == ""
    ${AndIf} ${FileExists} "$INSTDIR\${NAME}.part"
        StrCpy $0 "${NAME}.part"
    ${EndIf}
!macroend

!macro UnpackNewFile NAME SOURCE
    File "/oname=${NAME}.part" "${SOURCE}"
!macroend

; The key map is the user's once changed: InstallKeyMap decides on it.
!macro ReplaceProgramFile NAME SOURCE
    !if "${NAME}" != "${KEYMAP}"
        !insertmacro ReplaceFile "${NAME}" "$INSTDIR\${NAME}.part"
    !endif
!macroend

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
    Call PrepareFolder
    SetOutPath "$INSTDIR"
    ; A .part file already there may be another user's, planted to be
    ; written into (keeping its owner and access list) and swapped later:
    ; each goes first, and one that cannot go stops the setup.
    Call RemoveNewFiles
    StrCpy $0 ""
    !insertmacro ForEachPayload FindNewFileLeft
    ${If} $0 != ""
        !insertmacro FailInstallWith "$(ForeignFileStays)" ${EXIT_FOREIGN_FILE}
    ${EndIf}
    ; Every new file is written beside the old one first: a failure here
    ; leaves the installed files as they were.
    SetOverwrite try
    ClearErrors
    !insertmacro ForEachPayload UnpackNewFile
    ${If} ${Errors}
        Call RemoveNewFiles
        !insertmacro FailInstall "$(CouldNotWrite)"
    ${EndIf}
    SetOverwrite on
    ; The driver first: it is what the user runs.
    !insertmacro ForEachPayload ReplaceProgramFile
    Call InstallKeyMap

    ClearErrors
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "$(ProductName)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Kelvadore"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    ; Run in place (_?=): never as a copy of itself in the temporary folder,
    ; which for an elevated uninstaller is the user's. It removes itself
    ; when Windows restarts.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}" _?=$INSTDIR'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S _?=$INSTDIR'
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
    !insertmacro PluginsDirForAdministrators
    ; It loads a DLL by name too (the crypto provider behind the key map's hash).
    !insertmacro RefuseWithoutSafeDllSearch
    !insertmacro RefuseAsSystem
    !insertmacro RequireLog
    Call un.SecureFolder
    StrCpy $UninstallOutcome "$(MUI_UNTEXT_FINISH_SUBTITLE)"
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

; A file the setup installed with its old copies; the key map is the user's
; to keep when changed, and is looked at on its own.
!macro RemoveInstalledFile NAME SOURCE
    !if "${NAME}" != "${KEYMAP}"
        !insertmacro RemoveFile "${NAME}"
        !insertmacro RemoveFile "${NAME}.old-*"
    !endif
    ; A new file an install left for the restart that never came.
    !insertmacro RemoveFile "${NAME}.part"
!macroend

; An install that asked for a restart left new files (*.part) to be moved in
; place then: without this, the restart would bring the driver back after the
; uninstall. Takes them out of the renames Windows does at its start; other
; makers' renames stay.
!define NEW_FILES ""
!macro AddNewFileName NAME SOURCE
    !define /redef NEW_FILES "${NEW_FILES}${NAME}.part|"
!macroend
!insertmacro ForEachPayload AddNewFileName
Function un.CancelPendingReplacements
    System::Call '$PLUGINSDIR\Pellacore::CancelSetupRenames(w "$INSTDIR", w "${NEW_FILES}") i .r1 ?u'
    ${If} $1 < 0
        !insertmacro Say "$(RestartNotCancelled)"
        StrCpy $Left "$Left *.part"
    ${EndIf}
FunctionEnd

Section "Uninstall"
    ReadRegStr $ShippedHash HKLM "${UNINSTALL_KEY}" "KeyMapSha256"
    Call un.CancelPendingReplacements
    !insertmacro ForEachPayload RemoveInstalledFile
    !insertmacro RemoveFile "${KEYMAP}.new"
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
    ; Files that stay keep the entry and the uninstaller, to run again; the
    ; page then says the uninstall did not complete.
    ${If} $Left != ""
        ${If} $AtRestart != ""
            !insertmacro Say "$(RemovedAtRestart)"
        ${EndIf}
        !insertmacro Say "$(FilesLeft)"
        MessageBox MB_OK|MB_ICONSTOP "$(FilesLeft)" /SD IDOK
        SetErrorLevel ${EXIT_WRITE_FAILED}
        Abort
    ${EndIf}
    Call un.ReleaseFolder
    ; Run in place, the uninstaller is still running: it goes when Windows
    ; restarts, and the folder after it. That is no work left for the user.
    Delete /REBOOTOK "$INSTDIR\${UNINSTALLER}"
    ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "FolderCreated"
    ${If} $0 == 1
        RMDir /REBOOTOK "$INSTDIR"
    ${EndIf}
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    ; The driver still loaded by JAWS stays until the restart: not finished.
    ${If} $AtRestart != ""
        StrCpy $UninstallOutcome "$(UninstalledAtRestart)"
        !insertmacro Say "$(UninstalledAtRestart)"
        MessageBox MB_OK|MB_ICONINFORMATION "$(UninstalledAtRestart)" /SD IDOK
        SetErrorLevel ${EXIT_RESTART_NEEDED}
    ${EndIf}
SectionEnd
