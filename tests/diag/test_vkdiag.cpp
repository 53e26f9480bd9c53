// vkdiag as a user runs it, reading its lines and exit code: finding the
// simulated display on its port and through its USB entry, saying what it
// looked at when there is none, naming a port the driver holds, setting the
// log switch, showing the end of the log and writing a report.
#include "DriverSession.h"
#include "LogSettings.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct VkdiagRun {
    int exitCode;
    std::string output;
    bool Says(const std::string& text) const { return output.find(text) != std::string::npos; }
};

VkdiagRun Vkdiag(const std::string& arguments)
{
    VkdiagRun run;
    run.exitCode = testenv::RunProgram("\"" + testenv::BinDir() + "\\vkdiag.exe\" " + arguments, run.output, 60000);
    return run;
}

// The user's log folder and switch as the test leaves them: a scratch
// folder for %LOCALAPPDATA% (vkdiag inherits it), the switch removed.
class VkdiagTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_localAppData = testenv::FreshDir("vkdiag-appdata");
        SetEnvironmentVariableA("LOCALAPPDATA", m_localAppData.c_str());
    }
    void TearDown() override
    {
        RegDeleteKeyValueA(HKEY_CURRENT_USER, LogSettings::kKeyPath, LogSettings::kValueName);
        RegDeleteKeyA(HKEY_CURRENT_USER, LogSettings::kKeyPath);
        testenv::RemoveTree(m_localAppData);
    }
    std::string m_localAppData;
};

TEST_F(VkdiagTest, FindsTheDisplayOnItsPortAndThroughItsUsbEntry)
{
    DisplaySimulator display(1);
    ASSERT_TRUE(display.IsOpen());
    display.SetInitResponse(0, 0, 40);
    const std::string port = testenv::DriverPort(1);

    const VkdiagRun probe = Vkdiag("find --probe " + port);
    EXPECT_EQ(probe.exitCode, 0) << probe.output;
    EXPECT_TRUE(probe.Says(port + ": the display answered, 40 cells, in ")) << probe.output;
    EXPECT_TRUE(probe.Says("Driver: VK.JLB version ")) << probe.output;
    EXPECT_TRUE(probe.Says("Key map: kvbrl.ini ")) << probe.output;

    UsbRegistration usb({{"VKDIAG0001", port}});
    const VkdiagRun find = Vkdiag("find");
    EXPECT_EQ(find.exitCode, 0) << find.output;
    EXPECT_TRUE(find.Says("Display USB entry: " + port + " (present)")) << find.output;
    const VkdiagRun viaUsb = Vkdiag("find --probe usb");
    EXPECT_EQ(viaUsb.exitCode, 0) << viaUsb.output;
    EXPECT_TRUE(viaUsb.Says("Probing: " + port + "\n")) << viaUsb.output;
    EXPECT_TRUE(viaUsb.Says("Found: the display answered on " + port + " with 40 cells")) << viaUsb.output;
}

TEST_F(VkdiagTest, WithNoDisplaySaysWhatItLookedAtAndExitsOne)
{
    const std::string port = testenv::DriverPort(2);  // nothing plays the display there
    const VkdiagRun probe = Vkdiag("find --probe " + port);
    EXPECT_EQ(probe.exitCode, 1) << probe.output;
    EXPECT_TRUE(probe.Says("COM ports present: ")) << probe.output;
    EXPECT_TRUE(probe.Says(port + ": no answer from a display")) << probe.output;
    EXPECT_TRUE(probe.Says("Not found: no display answered on " + port)) << probe.output;

    const VkdiagRun find = Vkdiag("find");
    EXPECT_EQ(find.exitCode, 1) << find.output;
    EXPECT_TRUE(find.Says("Display USB entries: none")) << find.output;
    EXPECT_TRUE(find.Says("Driver folder: " + testenv::BinDir() + " (vkdiag's own: JAWS names no folder")) << find.output;

    // Run from anywhere, it looks at the driver installed where JAWS says.
    const std::string jaws = testenv::FreshDir("vkdiag-jaws");
    ASSERT_TRUE(CopyFileA((testenv::BinDir() + "\\VK.JLB").c_str(), (jaws + "\\VK.JLB").c_str(), FALSE));
    const char key[] = "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0";
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, "Target", REG_SZ, jaws.c_str(), jaws.size() + 1), ERROR_SUCCESS);
    const VkdiagRun installed = Vkdiag("find");
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key, "Target");
    testenv::RemoveTree(jaws);
    EXPECT_TRUE(installed.Says("Driver folder: " + jaws + " (the folder JAWS names")) << installed.output;
    EXPECT_TRUE(installed.Says("Key map: kvbrl.ini missing")) << installed.output;
    const VkdiagRun missing = Vkdiag("find --probe COM97");
    EXPECT_EQ(missing.exitCode, 1) << missing.output;
    EXPECT_TRUE(missing.Says("COM97: no such port")) << missing.output;
}

TEST_F(VkdiagTest, APortTheDriverHoldsIsNamedInUseNotAFailingDisplay)
{
    DisplaySimulator display(1);
    ASSERT_TRUE(display.IsOpen());
    IBrailleDriver* driver = testenv::LoadDriver();
    ASSERT_NE(driver, nullptr);
    RecordingCallbacks callbacks;
    const std::string port = testenv::DriverPort(1);
    ASSERT_TRUE(driver->Open(port.c_str(), &callbacks, "Cellivanta VK", (testenv::BinDir() + "\\VK.JLB").c_str()));
    const size_t initRequests = display.InitRequestCount();

    const VkdiagRun probe = Vkdiag("find --probe " + port);
    driver->Close();
    EXPECT_EQ(probe.exitCode, 1) << probe.output;
    EXPECT_TRUE(probe.Says(port + ": in use by the braille driver")) << probe.output;
    EXPECT_FALSE(probe.Says("no answer")) << probe.output;
    EXPECT_EQ(display.InitRequestCount(), initRequests) << "the probe disturbed the driver's display";
}

TEST_F(VkdiagTest, SetsTheLogSwitchShowsTheLogsEndAndWritesAReport)
{
    EXPECT_EQ(Vkdiag("log on").exitCode, 0);
    EXPECT_TRUE(LogSettings::IsOn());
    const VkdiagRun empty = Vkdiag("log show");
    EXPECT_TRUE(empty.Says("Log: on\n")) << empty.output;
    EXPECT_TRUE(empty.Says("Log file: " + m_localAppData + "\\Cellivanta VK\\VK.LOG")) << empty.output;

    CreateDirectoryA((m_localAppData + "\\Cellivanta VK").c_str(), nullptr);
    std::string log;
    for (int i = 1; i <= 50; ++i)
        log += "line " + std::to_string(i) + "\r\n";
    testenv::WriteBytes(LogSettings::FilePath(), log);
    const VkdiagRun shown = Vkdiag("log show");
    EXPECT_TRUE(shown.Says("Last 40 lines of the log:\nline 11\n")) << shown.output;
    EXPECT_TRUE(shown.Says("line 50\n")) << shown.output;
    EXPECT_FALSE(shown.Says("line 10\n")) << shown.output;

    DisplaySimulator display(1);
    display.SetInitResponse(0, 0, 40);
    UsbRegistration usb({{"VKDIAG0001", testenv::DriverPort(1)}});
    const std::string file = m_localAppData + "\\report.txt";
    const VkdiagRun report = Vkdiag("report \"" + file + "\"");
    EXPECT_EQ(report.exitCode, 0) << report.output;
    std::string text = testenv::ReadBytes(file);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());  // written for Notepad
    for (const char* part : {"Support: the dealer who sold you the display\n", "Found: the display answered on ",
                             "Key map check:\nkvbrl.ini: OK, ", "line 50\n",
                             "Driver trace while probing:\n", "CBrailleDisplayDriver::Open -> "})
        EXPECT_NE(text.find(part), std::string::npos) << part << " missing from the report:\n" << text;

    EXPECT_EQ(Vkdiag("log off").exitCode, 0);
    EXPECT_FALSE(LogSettings::IsOn());
}

TEST_F(VkdiagTest, BadUsageExitsTwoAndHelpNamesTheExitCodes)
{
    for (const char* arguments : {"", "probe", "find --bogus", "find --probe COM11 COM12", "log maybe", "report"})
        EXPECT_EQ(Vkdiag(arguments).exitCode, 2) << "vkdiag " << arguments;
    const VkdiagRun help = Vkdiag("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.Says("Exit codes: 0 display found")) << help.output;
    EXPECT_TRUE(Vkdiag("find --bogus").Says("'--bogus'")) << "a refusal names what was wrong";
    EXPECT_EQ(Vkdiag("report \"" + m_localAppData + "\\no such folder\\report.txt\"").exitCode, 3);
}

}  // namespace
