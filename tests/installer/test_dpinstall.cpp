// The driver package installer: its options, the platform calls it makes for
// a connected and for an absent display, and both built editions started as
// the tool starts them (under Wine the platform's calls succeed at once).
#include "CDriverPackageInstaller.h"
#include "TestEnv.h"

#include <gtest/gtest.h>
#include <newdev.h>

#include <mutex>

using namespace testenv;

namespace {

using Options = CDriverPackageInstaller::Options;

TEST(DriverPackageOptions, TheToolsParameters)
{
    Options options;
    ASSERT_TRUE(CDriverPackageInstaller::ParseOptions("/f /se /lm", options));
    EXPECT_TRUE(options.bForce);
    EXPECT_TRUE(options.bSilent);
    EXPECT_TRUE(options.bLegacyMode);

    Options spelled;
    ASSERT_TRUE(CDriverPackageInstaller::ParseOptions("  -LM\t/Se  /F ", spelled));
    EXPECT_TRUE(spelled.bForce && spelled.bSilent && spelled.bLegacyMode);

    Options none;
    ASSERT_TRUE(CDriverPackageInstaller::ParseOptions("", none));
    EXPECT_FALSE(none.bForce || none.bSilent || none.bLegacyMode);
}

TEST(DriverPackageOptions, AnythingElseIsRefused)
{
    for (const char* line : {"/q", "/f /s", "f", "/", "/f /se /lm extra", "/sel"}) {
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

class DriverPackageInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_updateError = ERROR_SUCCESS;
        g_updateReboot = FALSE;
        folder = FreshDir("dpinst-logic");
        inf = folder + "\\win7-64.inf";
        WriteBytes(inf, ReadBytes(SourceDir() + "\\tools\\installer\\payloads\\win7-64.inf"));
    }
    void TearDown() override { RemoveTree(folder); }

    DWORD Install(const char* commandLine)
    {
        Options options;
        EXPECT_TRUE(CDriverPackageInstaller::ParseOptions(commandLine, options));
        return CDriverPackageInstaller(options, {FakeUpdate, FakeInstall}).InstallFolder(folder);
    }

    std::string folder;
    std::string inf;
};

TEST_F(DriverPackageInstall, ConnectedDisplayGetsTheDriverThroughPlugAndPlay)
{
    EXPECT_EQ(Install("/f /se /lm"), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].function, "update");
    EXPECT_EQ(g_calls[0].hardwareId, "USB\\VID_1C71&PID_C005");
    EXPECT_EQ(g_calls[0].infPath, inf);
    EXPECT_EQ(g_calls[0].flags, static_cast<DWORD>(INSTALLFLAG_FORCE));

    g_calls.clear();
    EXPECT_EQ(Install("/se"), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].flags, 0u);
}

TEST_F(DriverPackageInstall, ARestartNeededIsTheExitCode)
{
    g_updateReboot = TRUE;
    EXPECT_EQ(Install("/f /se /lm"), static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
}

TEST_F(DriverPackageInstall, AbsentDisplayInLegacyModeGoesIntoTheDriverStore)
{
    g_updateError = ERROR_NO_SUCH_DEVINST;
    EXPECT_EQ(Install("/f /se /lm"), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].function, "install");
    EXPECT_EQ(g_calls[1].infPath, inf);
    EXPECT_EQ(g_calls[1].flags, static_cast<DWORD>(DIIRFLAG_FORCE_INF));
}

TEST_F(DriverPackageInstall, AbsentDisplayWithoutLegacyModeFails)
{
    g_updateError = ERROR_NO_SUCH_DEVINST;
    EXPECT_EQ(Install("/f /se"), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(DriverPackageInstall, OtherFailuresAreReportedAsTheyAre)
{
    g_updateError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Install("/f /se /lm"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(DriverPackageInstall, NoInfBesideTheInstaller)
{
    DeleteFileA(inf.c_str());
    EXPECT_EQ(Install("/f /se /lm"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(g_calls.empty());
}

// The built programs, copied with the INF into a folder as the tool does.
class DriverPackageProgram : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        const std::string name = GetParam();
        folder = FreshDir(std::string("dpinst-") + name);
        program = folder + "\\" + name;
        const std::string source = (name == "DPInst.exe" ? BinDir() : Bin64Dir()) + "\\" + name;
        ASSERT_TRUE(CopyFileA(source.c_str(), program.c_str(), FALSE)) << source;
    }
    void TearDown() override { RemoveTree(folder); }

    int Run(const char* parameters) { return RunProgram("\"" + program + "\" " + parameters); }

    std::string folder;
    std::string program;
};

TEST_P(DriverPackageProgram, InstallsTheInfBesideIt)
{
    WriteBytes(folder + "\\win7-64.inf", ReadBytes(SourceDir() + "\\tools\\installer\\payloads\\win7-64.inf"));
    EXPECT_EQ(Run("/f /se /lm"), 0);
}

TEST_P(DriverPackageProgram, ReportsByExitCodeWhenSilent)
{
    EXPECT_EQ(Run("/f /se /lm"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Run("/q /se"), ERROR_INVALID_PARAMETER);
}

INSTANTIATE_TEST_SUITE_P(Editions, DriverPackageProgram, ::testing::Values("DPInst.exe", "DPInst_x64.exe"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "DPInst.exe" ? "x86" : "x64";
                         });

// Without "/se" the result is also told in a message.
TEST(DriverPackageMessage, TellsTheUserWhenNotSilent)
{
    const std::string folder = FreshDir("dpinst-message");
    const std::string program = folder + "\\DPInst.exe";
    ASSERT_TRUE(CopyFileA((BinDir() + "\\DPInst.exe").c_str(), program.c_str(), FALSE));
    Program dpinst("\"" + program + "\" /f /lm");
    ASSERT_TRUE(dpinst.Started());
    std::string text;
    HWND box = WaitForMessageBox(dpinst.ThreadId(), text);
    EXPECT_NE(box, nullptr);
    if (box) {
        char title[128] = {};
        GetWindowTextA(box, title, sizeof(title));
        EXPECT_STREQ(title, "Cellivanta VK USB driver");
        EXPECT_EQ(text, "The Cellivanta VK USB driver could not be installed (error 2).");
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    DWORD exitCode = 0;
    EXPECT_TRUE(dpinst.Wait(20000, exitCode));
    EXPECT_EQ(exitCode, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    RemoveTree(folder);
}

}  // namespace
