// The setup package Setup.exe under Wine, as the tool starts it and silently
// (/S): it installs VK.JLB and kvbrl.ini into the folder that JAWS names for
// braille drivers of other makers, or stops with its message and its own exit
// code when there is none or it cannot check; it closes the PC emulator
// first; its uninstaller takes back exactly what it put there.
#include "SetupFixture.h"

#include <aclapi.h>
#include <sddl.h>

#include <atomic>

using namespace testenv;

namespace {

const char kUninstaller[] = "Uninstall Cellivanta VK.exe";

using SetupPackage = SetupFixture;

bool IsElevated()
{
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                          elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

// Who may do what in a folder, as SDDL ("" when it cannot be read).
std::string AccessOf(const std::string& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return "";
    LPSTR text = nullptr;
    std::string sddl;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
        sddl = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sddl;
}

// Whether the access list of path lets Users, Authenticated Users, Everyone
// or the interactive users add, change or remove what is in it, or change who
// may (no access list lets everyone).
bool OthersMayChange(const std::string& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL acl = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    const DWORD changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER |
                          GENERIC_WRITE | GENERIC_ALL;
    bool mayChange = !acl;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !(ace->Mask & changes))
            continue;
        for (WELL_KNOWN_SID_TYPE others :
             {WinWorldSid, WinInteractiveSid, WinAuthenticatedUserSid, WinBuiltinUsersSid})
            mayChange = mayChange || IsWellKnownSid(&ace->SidStart, others);
    }
    LocalFree(descriptor);
    return mayChange;
}

// Elevated, the plug-ins folder the engine loads from is never made in the
// user's own temporary folder.
TEST_F(SetupPackage, InstallsTheDriverAndItsToolsIntoTheJawsFolder)
{
    Program setup("\"" + BinDir() + "\\Setup.exe\" /S");
    DWORD exitCode = STILL_ACTIVE;
    bool pluginsInTemp = false;
    for (int waits = 0; waits < 3000 && !setup.Wait(20, exitCode); ++waits) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((TempDir() + "ns*.tmp").c_str(), &found);
        pluginsInTemp = pluginsInTemp || (search != INVALID_HANDLE_VALUE && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY));
        FindClose(search);
    }
    EXPECT_FALSE(pluginsInTemp);
    ASSERT_EQ(exitCode, 0u);
    EXPECT_TRUE(ReadBytes(In("VK.JLB")) == ReadBytes(Bin64Dir() + "\\VK.JLB")) << "VK.JLB differs from the build";
    EXPECT_TRUE(ReadBytes(In("kvbrl.ini")) == ReadBytes(SourceDir() + "\\driver\\keys\\kvbrl.ini"));
    // The key map checker beside it checks the installed key map by default.
    EXPECT_EQ(RunProgram("\"" + In("vkkeys.exe") + "\" check"), 0);
    EXPECT_EQ(RunProgram("\"" + In("vkdiag.exe") + "\" --help"), 0);
    EXPECT_TRUE(FileExists(In(kUninstaller)));
    EXPECT_TRUE(UninstallEntryExists());
    // The installed driver loads in the screen-reader stand-in and answers.
    EXPECT_EQ(RunProgram("\"" + Bin64Dir() + "\\vkhost.exe\" --driver \"" + In("VK.JLB") + "\" info"), 0);
}

TEST_F(SetupPackage, UninstallerTakesBackExactlyWhatWasInstalled)
{
    // Another maker's driver shares the folder; it must survive.
    WriteBytes(In("Other.JLB"), "another maker's driver");
    ASSERT_EQ(RunSetup(), 0);
    ASSERT_TRUE(FileExists(In("VK.JLB")));
    Uninstall();
    for (const char* name : {"VK.JLB", "kvbrl.ini", "vkkeys.exe", "vkdiag.exe"})
        EXPECT_FALSE(FileExists(In(name))) << name;
    EXPECT_EQ(ReadBytes(In("Other.JLB")), "another maker's driver");
    EXPECT_TRUE(FolderExists(folder));
}

// A folder other users may change (one under ProgramData lets Users add
// files) would let one of them swap the driver every user's JAWS runs: the
// setup narrows its access list before it writes. Wine keeps access as the
// Unix mode, other users' rights as Everyone's, and a new file takes the
// mode, not the folder's list: the file is checked for what it allows.
TEST_F(SetupPackage, AFolderOthersMayChangeIsNarrowedToAdministrators)
{
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)", SDDL_REVISION_1, &open, nullptr));
    ASSERT_TRUE(SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, open));
    LocalFree(open);
    ASSERT_TRUE(OthersMayChange(folder)) << AccessOf(folder);
    std::string log;
    EXPECT_EQ(RunSetupLogged("", log), 0);
    EXPECT_FALSE(OthersMayChange(folder)) << AccessOf(folder);
    EXPECT_FALSE(OthersMayChange(In("VK.JLB"))) << AccessOf(In("VK.JLB"));
    EXPECT_NE(log.find("now lets only administrators and SYSTEM change that folder"), std::string::npos) << log;
}

TEST_F(SetupPackage, AFolderItMadeGoesWithTheUninstall)
{
    const std::string made = folder + "\\not yet there";
    SetJawsFolder(made);
    ASSERT_EQ(RunSetup(), 0);
    // A repair finds the folder there; the setup still made it.
    ASSERT_EQ(RunSetup(), 0);
    ASSERT_TRUE(FileExists(made + "\\VK.JLB"));
    folder = made;
    Uninstall();
    EXPECT_NE(PendingRenames().find(made + "\\" + '\0'), std::string::npos) << "the folder stays until the restart";
}

// A silent setup logs into a new folder it made itself in the temporary
// folder, with a name no other program can guess and make first, for
// administrators only when elevated: a file planted at a predictable name (a
// link, for an elevated setup) is never written.
TEST_F(SetupPackage, WithoutTheJawsFolderItInstallsNothingAndLogsWhy)
{
    RemoveJawsFolder();
    const std::string temp = TempDir();
    RemoveLogFolders(temp);
    const std::string planted = temp + "Cellivanta VK setup.log";
    WriteBytes(planted, "planted");
    EXPECT_EQ(RunSetup(), 4);
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    EXPECT_FALSE(FileExists(In("kvbrl.ini")));
    EXPECT_FALSE(UninstallEntryExists());
    EXPECT_EQ(ReadBytes(planted), "planted");
    DeleteFileA(planted.c_str());
    const std::vector<std::string> logs = LogFolders(temp);
    ASSERT_EQ(logs.size(), 1u);
    // "Cellivanta VK setup " and 16 random hexadecimal digits.
    EXPECT_EQ(logs[0].size(), 36u) << logs[0];
    EXPECT_EQ(logs[0].find_first_not_of("0123456789ABCDEF", 20), std::string::npos) << logs[0];
    // Run as administrator, nobody else may open it (Wine keeps no access
    // list of its own, but shows whom it lets in).
    if (IsElevated()) {
        const std::string access = AccessOf(temp + logs[0]);
        for (const char* everyone : {";WD)", ";BU)", ";AU)"})
            EXPECT_EQ(access.find(everyone), std::string::npos) << access;
    }
    const std::string log = ReadBytes(temp + logs[0] + "\\Cellivanta VK setup.log");
    EXPECT_NE(log.find("JAWS 10 or later was not found"), std::string::npos) << log;
    RemoveLogFolders(temp);
}

// A folder that is not a full path on a local drive: a relative one, a
// network share, a drive that does not exist; a link another program made,
// or a folder reached through one; a value that is no text, or too long.
// Said as such, not as a failed write, nor as JAWS missing.
TEST_F(SetupPackage, AFolderThatIsNoFullLocalPathIsRefused)
{
    for (const char* folder : {"Braille\\Others", "\\\\server\\share\\Braille", "Q:\\Braille", "C:Braille",
                               "C:\\vktest-link", "C:\\vktest-link\\drivers", ""}) {
        if (*folder)
            SetJawsFolder(folder);
        else
            SetJawsTarget(REG_DWORD, std::string(4, '\1'));
        EXPECT_EQ(RunSetup(), 11) << folder;
    }
    SetJawsFolder("C:\\" + std::string(260, 'L'));
    EXPECT_EQ(RunSetup(), 11);
    EXPECT_FALSE(UninstallEntryExists());
    EXPECT_FALSE(FileExists("C:\\vktest-link-target\\VK.JLB"));
    EXPECT_FALSE(FolderExists("C:\\vktest-link-target\\drivers"));
}

// /LOG= naming a link another program made (a Unix symbolic link, shown by
// Wine as a reparse point) to a file elsewhere, or a path through a linked
// folder: nothing is written there, nothing installed, and the setup says why.
TEST_F(SetupPackage, ALogPathThatIsOrGoesThroughALinkIsRefused)
{
    VK_SKIP_IF(WhyNoLinks());
    const std::string elsewhere = "C:\\vktest-elsewhere.txt";
    const std::string before = ReadBytes(elsewhere);
    ASSERT_FALSE(before.empty()) << "the link's target was not made";
    EXPECT_EQ(RunSetup("/S /LOG=C:\\vktest-link\\setup.log"), 9);
    EXPECT_FALSE(FileExists("C:\\vktest-link-target\\setup.log"));
    std::string text;
    EXPECT_EQ(AnswerSetupsBox("/LOG=C:\\vktest-log-link", text), 9u);
    EXPECT_NE(text.find("is a link or goes through one"), std::string::npos) << text;
    EXPECT_EQ(ReadBytes(elsewhere), before);
    EXPECT_FALSE(FileExists(In("VK.JLB")));
}

// A temporary folder reached through a link: the default log's folder is
// never made behind it (nor left there), and the setup says it has no log.
TEST_F(SetupPackage, NoLogFolderIsMadeBehindALinkedTemporaryFolder)
{
    const std::string target = "C:\\vktest-link-target\\";
    RemoveLogFolders(target);
    char temp[MAX_PATH] = {}, tmp[MAX_PATH] = {};
    GetEnvironmentVariableA("TEMP", temp, MAX_PATH);
    GetEnvironmentVariableA("TMP", tmp, MAX_PATH);
    SetEnvironmentVariableA("TEMP", "C:\\vktest-link");
    SetEnvironmentVariableA("TMP", "C:\\vktest-link");
    EXPECT_EQ(RunSetup("/S"), 9);
    SetEnvironmentVariableA("TEMP", temp);
    SetEnvironmentVariableA("TMP", tmp);
    EXPECT_EQ(LogFolders(target), std::vector<std::string>{});
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    RemoveLogFolders(target);
}

// The log is UTF-8 with its mark: a folder named outside the code page is
// written as it is, not as question marks.
TEST_F(SetupPackage, TheLogKeepsNamesOutsideTheCodePage)
{
    const std::wstring drivers = std::wstring(folder.begin(), folder.end()) + L"\\\u0393\u03a9";
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Freedom Scientific\\ThirdPartyBraille\\1.0", 0,
                              nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, L"Target", 0, REG_SZ, reinterpret_cast<const BYTE*>(drivers.c_str()),
                   static_cast<DWORD>((drivers.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    std::string log;
    EXPECT_EQ(RunSetupLogged("", log), 0);
    EXPECT_EQ(log.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(log.find("\\\xCE\x93\xCE\xA9"), std::string::npos) << log;
    for (const wchar_t* name : {L"VK.JLB", L"kvbrl.ini", L"vkkeys.exe", L"vkdiag.exe", L"Uninstall Cellivanta VK.exe"})
        DeleteFileW((drivers + L"\\" + name).c_str());
    RemoveDirectoryW(drivers.c_str());
}

// A drive too small for the files: the setup says so before it writes
// anything, and leaves no part file behind.
TEST_F(SetupPackage, ADriveTooSmallChangesNothing)
{
    if (!FolderExists("S:\\"))
        GTEST_SKIP() << "no small drive S: (mounting a small file system needs root)";
    const std::string drivers = "S:\\JAWS drivers";
    SetJawsFolder(drivers);
    std::string log;
    EXPECT_EQ(RunSetupLogged("", log), 7);
    EXPECT_NE(log.find("too little free space"), std::string::npos) << log;
    EXPECT_FALSE(FileExists(drivers + "\\VK.JLB.part"));
    EXPECT_FALSE(FileExists(drivers + "\\VK.JLB"));
    EXPECT_FALSE(UninstallEntryExists());
    RemoveTree(drivers);
}

// Pellacore.dll blocked (here: disabled by Wine's loader, through the
// prefix's DLL overrides) is not 32-bit Windows. Without the library that
// writes it there is no log: the message box and the exit code say it.
TEST_F(SetupPackage, WhenItsHelperCannotLoadItSaysItCouldNotCheck)
{
    const char kOverrides[] = "Software\\Wine\\DllOverrides";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kOverrides, "pellacore", REG_SZ, "", 1), ERROR_SUCCESS);
    std::string text, log;
    const DWORD shown = AnswerSetupsBox("", text);
    const int silent = RunSetupLogged("", log);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kOverrides, "pellacore");
    EXPECT_EQ(shown, 5u);
    EXPECT_NE(text.find("could not check whether this computer runs 64-bit Windows"), std::string::npos) << text;
    EXPECT_EQ(silent, 5);
    EXPECT_FALSE(FileExists(In("VK.JLB")));
}

TEST_F(SetupPackage, WithoutTheJawsFolderItSaysSo)
{
    RemoveJawsFolder();
    std::string text;
    EXPECT_EQ(AnswerSetupsBox("", text), 4u);
    EXPECT_NE(text.find("JAWS 10 or later was not found"), std::string::npos) << text;
    EXPECT_NE(text.find("Nothing was installed."), std::string::npos) << text;
}

TEST_F(SetupPackage, ClosesThePcEmulatorBeforeCopying)
{
    // Whether the driver was already in place when the emulator was asked to close.
    std::atomic<bool> driverPresentAtClose{false};
    PcEmulatorWindow emulator(true, "PDIHooks", "PDIHooks", [&] { driverPresentAtClose = FileExists(In("VK.JLB")); });
    ASSERT_EQ(RunSetup(), 0);
    EXPECT_TRUE(emulator.Closed(5000));
    EXPECT_FALSE(driverPresentAtClose);
    EXPECT_TRUE(FileExists(In("VK.JLB")));
}

}  // namespace
