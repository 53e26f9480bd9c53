// The driver package installer: its options, the platform calls it makes for
// a connected and for an absent display and the package it hands them, the
// packed exit code, the INFs it names as not installed, Windows 10's own
// driver, and both built editions started as the tool starts them (under
// Wine the platform's calls succeed at once), with planted DLLs beside them.
#include "CDriverPackageInstaller.h"
#include "CInstallerWindow.h"
#include "FakePlatform.h"
#include "HeldFiles.h"
#include "PlantedDlls.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <newdev.h>
#include <sddl.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

using namespace testenv;

namespace {

using Options = CDriverPackageInstaller::Options;
using Outcome = CDriverPackageInstaller::Outcome;

std::string StoredInf()
{
    return ReadBytes(SourceDir() + "\\tools\\installer\\payloads\\win7-64.inf");
}

TEST(DriverPackageOptions, TheToolsParametersAndTheQuietOnes)
{
    Options options;
    ASSERT_TRUE(CDriverPackageInstaller::ParseOptions("/f /se /lm", options));
    EXPECT_TRUE(options.bForce);
    EXPECT_FALSE(options.bQuiet) << "/se only skips welcome and licence pages";
    EXPECT_TRUE(options.bLegacyMode);

    for (const char* line : {"  -LM\t/Q  /F ", "/sw /f /lm"}) {
        Options quiet;
        ASSERT_TRUE(CDriverPackageInstaller::ParseOptions(line, quiet)) << line;
        EXPECT_TRUE(quiet.bForce && quiet.bQuiet && quiet.bLegacyMode) << line;
    }

    Options none;
    ASSERT_TRUE(CDriverPackageInstaller::ParseOptions("", none));
    EXPECT_FALSE(none.bForce || none.bQuiet || none.bLegacyMode);
}

TEST(DriverPackageOptions, AnythingElseIsRefused)
{
    for (const char* line : {"/x", "/f /s", "f", "/", "/f /se /lm extra", "/sel"}) {
        Options options;
        EXPECT_FALSE(CDriverPackageInstaller::ParseOptions(line, options)) << line;
    }
}

// Stand-ins for the platform's two installation calls. Each records what it
// was handed, what the file held at that moment, and whether another program
// could still have written it or moved its folder away.
struct Call {
    std::string function;
    std::string hardwareId;
    std::string infPath;
    DWORD flags;
    HWND owner;
    std::string content;
    bool writable;
    bool movable;
};
std::mutex g_mutex;
std::vector<Call> g_calls;
DWORD g_updateError = ERROR_SUCCESS;  // what UpdateDriverForPlugAndPlayDevices fails with
BOOL g_updateReboot = FALSE;
DWORD g_installError = ERROR_SUCCESS;  // what DiInstallDriver fails with
BOOL g_installReboot = FALSE;
DWORD g_windowsMajor = 6;

Call Record(const char* function, LPCWSTR hardwareId, LPCWSTR infPath, DWORD flags, HWND owner)
{
    const std::string path = FakePlatform::Utf8(infPath);
    Call call = {function, hardwareId ? FakePlatform::Utf8(hardwareId) : "", path, flags, owner, ReadBytes(path),
                 false, false};
    HANDLE writer = CreateFileW(infPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    call.writable = writer != INVALID_HANDLE_VALUE;
    if (call.writable)
        CloseHandle(writer);
    const std::wstring folder = CDriverPackageInstaller::FolderOf(infPath);
    call.movable = MoveFileW(folder.c_str(), (folder + L"-moved").c_str()) != FALSE;
    if (call.movable)
        MoveFileW((folder + L"-moved").c_str(), folder.c_str());
    return call;
}

BOOL WINAPI FakeUpdate(HWND owner, LPCWSTR hardwareId, LPCWSTR infPath, DWORD flags, PBOOL reboot)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back(Record("update", hardwareId, infPath, flags, owner));
    if (g_updateError != ERROR_SUCCESS) {
        SetLastError(g_updateError);
        return FALSE;
    }
    *reboot = g_updateReboot;
    return TRUE;
}

BOOL WINAPI FakeInstall(HWND owner, LPCWSTR infPath, DWORD flags, PBOOL reboot)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back(Record("install", nullptr, infPath, flags, owner));
    if (g_installError != ERROR_SUCCESS) {
        SetLastError(g_installError);
        return FALSE;
    }
    *reboot = g_installReboot;
    return TRUE;
}

DWORD FakeWindowsMajor()
{
    return g_windowsMajor;
}

// One installation: what the folder holds, what the platform answers, what
// the installer must do and report.
struct InstallCase {
    const char* name;
    const char* commandLine;
    DWORD updateError;
    BOOL updateReboot;
    DWORD installError;
    BOOL installReboot;
    const char* packageText;  // win7-64.inf as written; null: the stored one, "": none, "~": one byte changed
    const char* extraInf;     // another INF beside it, or null
    std::vector<std::string> calls;
    Outcome outcome;
    DWORD exitCode;
};

const char* const kStored = nullptr;
const char* const kNone = "";
const char* const kOneByteChanged = "~";

const InstallCase kInstallCases[] = {
    {"Connected", "/f /se /lm", 0, FALSE, 0, FALSE, kStored, nullptr, {"update"}, Outcome::Installed, 0x00000001},
    {"RestartNeeded", "/f /se /lm", 0, TRUE, 0, FALSE, kStored, nullptr, {"update"}, Outcome::Installed, 0x40000001},
    {"AlreadyUpToDate", "/lm", ERROR_NO_MORE_ITEMS, FALSE, 0, FALSE, kStored, nullptr, {"update"}, Outcome::UpToDate,
     0x00000100},
    {"AbsentInLegacyMode", "/f /se /lm", ERROR_NO_SUCH_DEVINST, FALSE, 0, FALSE, kStored, nullptr,
     {"update", "install"}, Outcome::ReadyForDevice, 0x00000100},
    {"AbsentInLegacyModeRestartNeeded", "/lm", ERROR_NO_SUCH_DEVINST, FALSE, 0, TRUE, kStored, nullptr,
     {"update", "install"}, Outcome::ReadyForDevice, 0x40000100},
    {"AbsentInLegacyModeFailure", "/f /se /lm", ERROR_NO_SUCH_DEVINST, FALSE, ERROR_ACCESS_DENIED, FALSE, kStored,
     nullptr, {"update", "install"}, Outcome::Failed, 0x80010000},
    {"AbsentWithoutLegacyMode", "/f /se", ERROR_NO_SUCH_DEVINST, FALSE, 0, FALSE, kStored, nullptr, {"update"},
     Outcome::Failed, 0x80010000},
    {"OtherFailure", "/f /se /lm", ERROR_ACCESS_DENIED, FALSE, 0, FALSE, kStored, nullptr, {"update"},
     Outcome::Failed, 0x80010000},
    // Nothing beside it: it installs the package it carries all the same.
    {"NoInfBeside", "/f /se /lm", 0, FALSE, 0, FALSE, kNone, nullptr, {"update"}, Outcome::Installed, 0x00000001},
    // An INF in its place that binds the display's id to something else, or
    // one of the same length differing in one byte: named, never installed.
    {"ReplacedInf", "/f /se /lm", 0, FALSE, 0, FALSE,
     "[Version]\r\nSignature=\"$Windows NT$\"\r\n[DeviceList.NTamd64]\r\n%Evil%=Evil,USB\\VID_1C71&PID_C005\r\n",
     nullptr, {"update"}, Outcome::Installed, 0x80010001},
    {"OneByteChangedInf", "/f /se /lm", 0, FALSE, 0, FALSE, kOneByteChanged, nullptr, {"update"}, Outcome::Installed,
     0x80010001},
    {"PlantedInf", "/f /se /lm", 0, FALSE, 0, FALSE, kStored, "oem-planted.inf", {"update"}, Outcome::Installed,
     0x80010001},
};

class DriverPackageInstall : public ::testing::TestWithParam<InstallCase> {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_updateError = GetParam().updateError;
        g_updateReboot = GetParam().updateReboot;
        g_installError = GetParam().installError;
        g_installReboot = GetParam().installReboot;
        g_windowsMajor = 6;
        folder = FreshDir("dpinst-logic");
        inf = folder + "\\win7-64.inf";
        privateParent = FreshDir("dpinst-private");
    }
    void TearDown() override
    {
        RemoveTree(folder);
        RemoveTree(privateParent);
    }

    CDriverPackageInstaller::Result Install(const char* commandLine, HWND owner = nullptr)
    {
        Options options;
        EXPECT_TRUE(CDriverPackageInstaller::ParseOptions(commandLine, options));
        CDriverPackageInstaller::SetupCalls calls = {FakeUpdate, FakeInstall, FakeWindowsMajor,
                                                     FakePlatform::Wide(privateParent)};
        return CDriverPackageInstaller(options, StoredInf(), calls).InstallFolder(FakePlatform::Wide(folder), owner);
    }

    std::string folder;
    std::string inf;
    std::string privateParent;
};

// Whatever lies beside it, what the platform installs is the package the
// installer carries, from a folder of its own that nobody else could change
// while it installed, and gone afterwards.
TEST_P(DriverPackageInstall, InstallsOnlyItsOwnPackageAndPacksTheOutcome)
{
    const InstallCase& c = GetParam();
    std::string beside = c.packageText ? c.packageText : StoredInf();
    if (beside == kOneByteChanged) {
        beside = StoredInf();
        beside[beside.find("C005")] = 'D';
    }
    if (!beside.empty())
        WriteBytes(inf, beside);
    if (c.extraInf)
        WriteBytes(folder + "\\" + c.extraInf, StoredInf());

    HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x4242));
    const CDriverPackageInstaller::Result result = Install(c.commandLine, owner);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.ExitCode(), c.exitCode) << std::hex << result.ExitCode();
    if (c.outcome == Outcome::Failed) {
        EXPECT_EQ(result.dwError, c.installError ? c.installError : c.updateError);
    }
    const bool refusedBeside = !beside.empty() && beside != StoredInf();
    EXPECT_EQ(result.refusedInfs.size(), (refusedBeside ? 1u : 0u) + (c.extraInf ? 1u : 0u));
    if (c.extraInf && !result.refusedInfs.empty()) {
        EXPECT_EQ(result.refusedInfs[0], FakePlatform::Wide(folder + "\\" + c.extraInf));
    }

    ASSERT_EQ(g_calls.size(), c.calls.size());
    const bool force = std::string(c.commandLine).find("/f") != std::string::npos;
    for (size_t i = 0; i < c.calls.size(); ++i) {
        const Call& call = g_calls[i];
        EXPECT_EQ(call.function, c.calls[i]);
        EXPECT_EQ(call.infPath.rfind(privateParent + "\\CellivantaUsbDriver-", 0), 0u) << call.infPath;
        EXPECT_EQ(CDriverPackageInstaller::NameOf(FakePlatform::Wide(call.infPath)), L"win7-64.inf");
        EXPECT_TRUE(call.content == StoredInf()) << "only the stored package is installed";
        EXPECT_FALSE(call.writable);
        EXPECT_FALSE(call.movable);
        EXPECT_EQ(call.owner, owner);
        if (c.calls[i] == "update") {
            EXPECT_EQ(call.hardwareId, "USB\\VID_1C71&PID_C005");
            EXPECT_EQ(call.flags, force ? static_cast<DWORD>(INSTALLFLAG_FORCE) : 0u);
        } else {
            EXPECT_EQ(call.flags, force ? static_cast<DWORD>(DIIRFLAG_FORCE_INF) : 0u);
        }
    }
    if (!g_calls.empty()) {
        EXPECT_FALSE(FolderExists(g_calls[0].infPath.substr(0, g_calls[0].infPath.rfind('\\')))) << "its own folder goes";
    }
    EXPECT_EQ(ReadBytes(inf), beside) << "what lies beside it is left as it was";
}

INSTANTIATE_TEST_SUITE_P(Cases, DriverPackageInstall, ::testing::ValuesIn(kInstallCases),
                         [](const ::testing::TestParamInfo<InstallCase>& info) { return info.param.name; });

// An installer that cannot tell its own folder never looks elsewhere (the
// current folder, the root of the current drive); one that cannot have a
// folder of its own (its parent missing, or reached through a link that
// could be turned elsewhere), or the platform's calls, installs nothing and
// says why.
TEST(DriverPackageFolder, EachFailureHasItsOwnResult)
{
    VK_SKIP_IF(WhyNoLinks());  // one case goes through a link
    g_calls.clear();
    g_windowsMajor = 6;
    const std::string parent = FreshDir("dpinst-parent");
    const CDriverPackageInstaller::SetupCalls calls = {FakeUpdate, FakeInstall, FakeWindowsMajor,
                                                       FakePlatform::Wide(parent)};
    EXPECT_EQ(CDriverPackageInstaller::FolderOf(L"DPInst.exe"), L"");
    for (const wchar_t* folder : {L"", L".", L"CellivantaInstall"}) {
        const auto result = CDriverPackageInstaller({}, StoredInf(), calls).InstallFolder(folder);
        EXPECT_EQ(result.outcome, Outcome::Failed);
        EXPECT_EQ(result.dwError, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
    struct Case {
        const char* name;
        CDriverPackageInstaller::SetupCalls calls;
        DWORD error;
        size_t callsMade;
    };
    const Case cases[] = {
        {"no folder to make its own in", {FakeUpdate, FakeInstall, FakeWindowsMajor, FakePlatform::Wide(parent + "\\gone")},
         ERROR_FILE_NOT_FOUND, 0},
        // Set up by the test registration: a link to another folder.
        {"a link on the way", {FakeUpdate, FakeInstall, FakeWindowsMajor, L"C:\\vktest-link"}, 4395, 0},
        {"newdev without its calls", {nullptr, nullptr, FakeWindowsMajor, FakePlatform::Wide(parent)},
         ERROR_PROC_NOT_FOUND, 0},
        {"newdev without DiInstallDriver", {FakeUpdate, nullptr, FakeWindowsMajor, FakePlatform::Wide(parent)},
         ERROR_PROC_NOT_FOUND, 1},
    };
    g_updateError = ERROR_NO_SUCH_DEVINST;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_calls.clear();
        Options legacy;
        legacy.bLegacyMode = true;
        const auto result = CDriverPackageInstaller(legacy, StoredInf(), c.calls).InstallFolder(FakePlatform::Wide(parent));
        EXPECT_EQ(result.outcome, Outcome::Failed);
        EXPECT_EQ(result.dwError, c.error);
        EXPECT_EQ(result.ExitCode(), 0x80010000u);
        EXPECT_EQ(g_calls.size(), c.callsMade);
    }
    g_updateError = ERROR_SUCCESS;
    RemoveTree(parent);
}

// Between making its private folder and opening it again by its path,
// another program puts a folder of its own there, which everyone may change.
HANDLE WINAPI SwapFolderThenOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE model)
{
    RemoveDirectoryW(path);
    CreateDirectoryW(path, nullptr);
    PSECURITY_DESCRIPTOR open = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr);
    SetFileSecurityW(path, DACL_SECURITY_INFORMATION, open);
    LocalFree(open);
    return CreateFileW(path, access, share, security, disposition, flags, model);
}

TEST(DriverPackageFolder, AFolderSwappedInBeforeItIsHeldIsRefused)
{
    const std::string parent = FreshDir("dpinst-swap");
    const HeldFileCalls saved = HeldFilePlatform();
    HeldFilePlatform().createFile = SwapFolderThenOpen;
    HANDLE held = INVALID_HANDLE_VALUE;
    EXPECT_EQ(CreateHeldFolder(FakePlatform::Wide(parent + "\\private"), FolderAccess::AdministratorsOnly, held),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HeldFilePlatform() = saved;
    EXPECT_EQ(held, INVALID_HANDLE_VALUE);
    RemoveTree(parent);
}

// An INF whose name the ANSI code page cannot spell is named whole.
TEST(DriverPackageFolder, AnInfNamedOutsideTheCodePageIsNamedWhole)
{
    g_windowsMajor = 6;
    const std::string folder = FreshDir("dpinst-names");
    const std::wstring inf = FakePlatform::Wide(folder) + L"\\\u03A9mega \u20AC.inf";  // omega, euro sign
    HANDLE file = CreateFileW(inf.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    const CDriverPackageInstaller::SetupCalls calls = {FakeUpdate, FakeInstall, FakeWindowsMajor,
                                                       FakePlatform::Wide(folder)};
    const auto result = CDriverPackageInstaller({}, StoredInf(), calls).InstallFolder(FakePlatform::Wide(folder));
    EXPECT_EQ(result.refusedInfs, std::vector<std::wstring>{inf});
    EXPECT_NE(CInstallerWindow::OutcomeText(result).find(L"\u03A9mega \u20AC.inf,"), std::wstring::npos);
    DeleteFileW(inf.c_str());
    RemoveTree(folder);
}

// Windows 10 and later bind their own USB serial driver to the display and
// would refuse the package for want of a catalog: nothing is installed, the
// user is told so, with the display's port once Windows has seen it.
TEST(DriverPackageFolder, OnWindows10WindowsProvidesTheDriver)
{
    g_calls.clear();
    g_windowsMajor = 10;
    const std::string folder = FreshDir("dpinst-win10");
    WriteBytes(folder + "\\win7-64.inf", StoredInf());
    const CDriverPackageInstaller::SetupCalls calls = {FakeUpdate, FakeInstall, FakeWindowsMajor,
                                                       FakePlatform::Wide(folder)};
    const auto unplugged = CDriverPackageInstaller({}, StoredInf(), calls).InstallFolder(FakePlatform::Wide(folder));
    EXPECT_EQ(unplugged.outcome, Outcome::ProvidedByWindows);
    EXPECT_EQ(unplugged.ExitCode(), 0u);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(CInstallerWindow::OutcomeText(unplugged).rfind(L"Windows already provides the USB driver", 0), 0u);

    const char* key = "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1C71&PID_C005\\VKTEST0001";
    HKEY instance = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (std::string(key) + "\\Device Parameters").c_str(), 0, nullptr, 0,
                              KEY_WRITE | KEY_WOW64_64KEY, nullptr, &instance, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(instance, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>("COM7"), 5);
    RegCloseKey(instance);
    const auto plugged = CDriverPackageInstaller({}, StoredInf(), calls).InstallFolder(FakePlatform::Wide(folder));
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
    EXPECT_EQ(plugged.portName, L"COM7");
    EXPECT_NE(CInstallerWindow::OutcomeText(plugged).find(L"COM7"), std::wstring::npos);
    g_windowsMajor = 6;
    RemoveTree(folder);
}

// The platform's prompts while it installs (Windows 7 asks about a driver
// without a signature) belong to the progress page, not to no window.
TEST(DriverPackageWindow, PromptsWhileInstallingBelongToTheProgressPage)
{
    HWND owner = nullptr;
    char caption[128] = {};
    std::atomic<DWORD> threadId(0);
    std::thread window([&] {
        threadId = GetCurrentThreadId();
        CInstallerWindow::Run(CInstallerWindow::OwnedInstallation([&](HWND page) {
            owner = page;
            GetWindowTextA(page, caption, sizeof(caption));
            CDriverPackageInstaller::Result installed;
            installed.outcome = Outcome::Installed;
            return installed;
        }));
    });
    std::string text;
    HWND page = nullptr;
    EXPECT_TRUE(WaitFor([&] {
        page = threadId ? WaitForMessageBox(threadId, text, 1000) : nullptr;
        return page && text.find("is installed") != std::string::npos;
    })) << text;
    if (page)
        PostMessageA(page, WM_COMMAND, IDOK, 0);
    window.join();
    EXPECT_NE(owner, nullptr);
    EXPECT_STREQ(caption, "Cellivanta VK USB driver");
}

// The Windows version Wine reports to one program (its own setting), for the
// life of the object.
class WindowsVersionOf {
public:
    WindowsVersionOf(const std::string& program, const char* version)
        : m_key("Software\\Wine\\AppDefaults\\" + program)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                           static_cast<DWORD>(strlen(version) + 1));
            RegCloseKey(key);
        }
    }
    ~WindowsVersionOf() { RegDeleteTreeA(HKEY_CURRENT_USER, m_key.c_str()); }

private:
    std::string m_key;
};

// The built programs, copied with the INF into a folder as the tool does.
class DriverPackageProgram : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        const std::string name = GetParam();
        is64Bit = name != "DPInst.exe";
        folder = FreshDir(std::string("dpinst-") + name);
        program = folder + "\\" + name;
        const std::string source = (is64Bit ? Bin64Dir() : BinDir()) + "\\" + name;
        ASSERT_TRUE(CopyFileA(source.c_str(), program.c_str(), FALSE)) << source;
    }
    void TearDown() override { RemoveTree(folder); }

    int Run(const char* parameters) { return RunProgram("\"" + program + "\" " + parameters); }

    bool is64Bit = false;
    std::string folder;
    std::string program;
};

TEST_P(DriverPackageProgram, QuietRunsReportByExitCodeOnly)
{
    {
        WindowsVersionOf windows7(GetParam(), "win7");
        EXPECT_EQ(Run("/f /q /lm"), 0x00000001) << "its own package, with nothing beside it";
        EXPECT_EQ(Run("/x /q"), static_cast<int>(0x80010000)) << "an unknown option";
    }
    WindowsVersionOf windows10(GetParam(), "win10");
    EXPECT_EQ(Run("/f /sw /lm"), 0) << "Windows provides the driver";
}

// A program of the user plants DLLs and an INF in the installer's folder
// before the user accepts the elevation prompt: none may be used.
TEST_P(DriverPackageProgram, PlantedDllsAndInfsAreLeftAlone)
{
    WindowsVersionOf windows7(GetParam(), "win7");
    WriteBytes(folder + "\\win7-64.inf", StoredInf());
    WriteBytes(folder + "\\oem-planted.inf", "[Version]\r\n");
    PlantedDlls planted(folder, {"newdev.dll", "comctl32.dll"}, is64Bit);
    ASSERT_TRUE(planted.WouldBeFound()) << "the test registration must set WINEDLLOVERRIDES";
    EXPECT_EQ(Run("/f /q /lm"), static_cast<int>(0x80010001));
    EXPECT_EQ(planted.Loaded(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Editions, DriverPackageProgram, ::testing::Values("DPInst.exe", "DPInst_x64.exe"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "DPInst.exe" ? "x86" : "x64";
                         });

// As the tool starts it ("/se"), the installer shows its window and ends on
// the outcome page; Finish ends it with the packed exit code.
TEST(DriverPackageWindow, AsTheToolStartsItTheUserSeesTheOutcome)
{
    struct Case {
        const char* windows;
        const char* outcomeStart;
        DWORD exitCode;
    };
    for (const Case& c : {Case{"win7", "The Cellivanta VK USB driver is installed.", 0x00000001},
                          Case{"win10", "Windows already provides the USB driver", 0}}) {
        SCOPED_TRACE(c.windows);
        WindowsVersionOf windows("DPInst.exe", c.windows);
        const std::string folder = FreshDir("dpinst-window");
        const std::string program = folder + "\\DPInst.exe";
        ASSERT_TRUE(CopyFileA((BinDir() + "\\DPInst.exe").c_str(), program.c_str(), FALSE));
        WriteBytes(folder + "\\win7-64.inf", StoredInf());
        Program dpinst("\"" + program + "\" /f /se /lm");
        ASSERT_TRUE(dpinst.Started());
        // The progress page may still be up when first looked for.
        std::string text;
        HWND page = nullptr;
        EXPECT_TRUE(WaitFor([&] {
            page = WaitForMessageBox(dpinst.ThreadId(), text, 1000);
            return text.compare(0, strlen(c.outcomeStart), c.outcomeStart) == 0;
        }, 20000)) << text;
        if (page) {
            char caption[128] = {};
            GetWindowTextA(page, caption, sizeof(caption));
            EXPECT_STREQ(caption, "Cellivanta VK USB driver");
            PostMessageA(page, WM_COMMAND, IDOK, 0);
        }
        DWORD exitCode = 0;
        EXPECT_TRUE(dpinst.Wait(20000, exitCode));
        EXPECT_EQ(exitCode, c.exitCode);
        RemoveTree(folder);
    }
}

}  // namespace
