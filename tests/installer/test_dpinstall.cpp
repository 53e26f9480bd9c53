// The driver package installer: its options, the platform calls it makes for
// a connected and for an absent display, the packed exit code, the INFs it
// refuses, and both built editions started as the tool starts them (under
// Wine the platform's calls succeed at once), with planted DLLs beside them.
#include "CDriverPackageInstaller.h"
#include "TestEnv.h"
#include "PlantedDlls.h"

#include <gtest/gtest.h>
#include <newdev.h>

#include <cstring>
#include <mutex>

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

// Stand-ins for the platform's two installation calls.
struct Call {
    std::string function;
    std::string hardwareId;
    std::string infPath;
    DWORD flags;
};
std::mutex g_mutex;
std::vector<Call> g_calls;
DWORD g_updateError = ERROR_SUCCESS;  // what UpdateDriverForPlugAndPlayDevices fails with
BOOL g_updateReboot = FALSE;

BOOL WINAPI FakeUpdate(HWND, LPCSTR hardwareId, LPCSTR infPath, DWORD flags, PBOOL reboot)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back({"update", hardwareId, infPath, flags});
    if (g_updateError != ERROR_SUCCESS) {
        SetLastError(g_updateError);
        return FALSE;
    }
    *reboot = g_updateReboot;
    return TRUE;
}

BOOL WINAPI FakeInstall(HWND, LPCSTR infPath, DWORD flags, PBOOL reboot)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back({"install", "", infPath, flags});
    *reboot = FALSE;
    return TRUE;
}

// One installation: what the folder holds, what the platform answers, what
// the installer must do and report.
struct InstallCase {
    const char* name;
    const char* commandLine;
    DWORD updateError;
    BOOL updateReboot;
    const char* packageText;  // win7-64.inf as written; null: the stored one, "": none
    const char* extraInf;     // another INF beside it, or null
    std::vector<std::string> calls;
    Outcome outcome;
    DWORD exitCode;
};

const InstallCase kInstallCases[] = {
    {"Connected", "/f /se /lm", ERROR_SUCCESS, FALSE, nullptr, nullptr, {"update"}, Outcome::Installed, 0x00000001},
    {"RestartNeeded", "/f /se /lm", ERROR_SUCCESS, TRUE, nullptr, nullptr, {"update"}, Outcome::Installed,
     0x40000001},
    {"AlreadyUpToDate", "/lm", ERROR_NO_MORE_ITEMS, FALSE, nullptr, nullptr, {"update"}, Outcome::UpToDate,
     0x00000100},
    {"AbsentInLegacyMode", "/f /se /lm", ERROR_NO_SUCH_DEVINST, FALSE, nullptr, nullptr, {"update", "install"},
     Outcome::ReadyForDevice, 0x00000100},
    {"AbsentWithoutLegacyMode", "/f /se", ERROR_NO_SUCH_DEVINST, FALSE, nullptr, nullptr, {"update"},
     Outcome::Failed, 0x80010000},
    {"OtherFailure", "/f /se /lm", ERROR_ACCESS_DENIED, FALSE, nullptr, nullptr, {"update"}, Outcome::Failed,
     0x80010000},
    {"NoInf", "/f /se /lm", ERROR_SUCCESS, FALSE, "", nullptr, {}, Outcome::Failed, 0x80010000},
    // An INF in its place that binds the display's id to something else.
    {"ReplacedInf", "/f /se /lm", ERROR_SUCCESS, FALSE,
     "[Version]\r\nSignature=\"$Windows NT$\"\r\n[DeviceList.NTamd64]\r\n%Evil%=Evil,USB\\VID_1C71&PID_C005\r\n", nullptr,
     {}, Outcome::Failed, 0x80010000},
    // A planted INF is refused and counted; the stored package still goes in.
    {"PlantedInf", "/f /se /lm", ERROR_SUCCESS, FALSE, nullptr, "oem-planted.inf", {"update"}, Outcome::Installed,
     0x80010001},
};

class DriverPackageInstall : public ::testing::TestWithParam<InstallCase> {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_updateError = GetParam().updateError;
        g_updateReboot = GetParam().updateReboot;
        folder = FreshDir("dpinst-logic");
        inf = folder + "\\win7-64.inf";
    }
    void TearDown() override { RemoveTree(folder); }

    CDriverPackageInstaller::Result Install(const char* commandLine, const std::string& in)
    {
        Options options;
        EXPECT_TRUE(CDriverPackageInstaller::ParseOptions(commandLine, options));
        return CDriverPackageInstaller(options, StoredInf(), {FakeUpdate, FakeInstall}).InstallFolder(in);
    }

    std::string folder;
    std::string inf;
};

TEST_P(DriverPackageInstall, InstallsOnlyTheStoredPackageAndPacksTheOutcome)
{
    const InstallCase& c = GetParam();
    if (!c.packageText)
        WriteBytes(inf, StoredInf());
    else if (*c.packageText)
        WriteBytes(inf, c.packageText);
    if (c.extraInf)
        WriteBytes(folder + "\\" + c.extraInf, StoredInf());

    const CDriverPackageInstaller::Result result = Install(c.commandLine, folder);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.ExitCode(), c.exitCode) << std::hex << result.ExitCode();
    if (c.outcome == Outcome::Failed && c.updateError != ERROR_SUCCESS) {
        EXPECT_EQ(result.dwError, c.updateError);
    }
    if (c.extraInf) {
        ASSERT_EQ(result.refusedInfs.size(), 1u);
        EXPECT_EQ(result.refusedInfs[0], folder + "\\" + c.extraInf);
    }

    ASSERT_EQ(g_calls.size(), c.calls.size());
    const bool force = std::string(c.commandLine).find("/f") != std::string::npos;
    for (size_t i = 0; i < c.calls.size(); ++i) {
        EXPECT_EQ(g_calls[i].function, c.calls[i]);
        EXPECT_EQ(g_calls[i].infPath, inf) << "only the stored package is installed";
        if (c.calls[i] == "update") {
            EXPECT_EQ(g_calls[i].hardwareId, "USB\\VID_1C71&PID_C005");
            EXPECT_EQ(g_calls[i].flags, force ? static_cast<DWORD>(INSTALLFLAG_FORCE) : 0u);
        } else {
            EXPECT_EQ(g_calls[i].flags, force ? static_cast<DWORD>(DIIRFLAG_FORCE_INF) : 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DriverPackageInstall, ::testing::ValuesIn(kInstallCases),
                         [](const ::testing::TestParamInfo<InstallCase>& info) { return info.param.name; });

// An installer that cannot tell its own folder never looks elsewhere (the
// current folder, the root of the current drive).
TEST(DriverPackageFolder, WithoutItsOwnFolderItFails)
{
    g_calls.clear();
    EXPECT_EQ(CDriverPackageInstaller::FolderOf("DPInst.exe"), "");
    for (const char* folder : {"", ".", "CellivantaInstall"}) {
        const auto result = CDriverPackageInstaller({}, StoredInf(), {FakeUpdate, FakeInstall}).InstallFolder(folder);
        EXPECT_EQ(result.outcome, Outcome::Failed) << folder;
        EXPECT_EQ(result.dwError, static_cast<DWORD>(ERROR_PATH_NOT_FOUND)) << folder;
    }
    EXPECT_TRUE(g_calls.empty());
}

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
    EXPECT_EQ(Run("/f /q /lm"), static_cast<int>(0x80010000)) << "no INF beside it";
    EXPECT_EQ(Run("/x /q"), static_cast<int>(0x80010000)) << "an unknown option";
    WriteBytes(folder + "\\win7-64.inf", StoredInf());
    EXPECT_EQ(Run("/f /sw /lm"), 0x00000001);
}

// A program of the user plants DLLs and an INF in the installer's folder
// before the user accepts the elevation prompt: none may be used.
TEST_P(DriverPackageProgram, PlantedDllsAndInfsAreLeftAlone)
{
    WriteBytes(folder + "\\win7-64.inf", StoredInf());
    WriteBytes(folder + "\\oem-planted.inf", StoredInf());
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
        bool withInf;
        const char* outcomeStart;
        DWORD exitCode;
    };
    for (const Case& c : {Case{true, "The Cellivanta VK USB driver is installed.", 0x00000001},
                          Case{false, "The Cellivanta VK USB driver could not be installed.", 0x80010000}}) {
        SCOPED_TRACE(c.outcomeStart);
        const std::string folder = FreshDir("dpinst-window");
        const std::string program = folder + "\\DPInst.exe";
        ASSERT_TRUE(CopyFileA((BinDir() + "\\DPInst.exe").c_str(), program.c_str(), FALSE));
        if (c.withInf)
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
