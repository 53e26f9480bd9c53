// The setup package Setup.exe under Wine, as the tool starts it and silently
// (/S): it installs VK.JLB and kvbrl.ini into the folder that JAWS names for
// braille drivers of other makers, or stops with its message when there is
// none; it closes the PC emulator first; its uninstaller takes back exactly
// what it put there.
#include "ScopedRegistryKey.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace testenv;

namespace {

const char kJawsKey[] = "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CellivantaVK";
const char kUninstaller[] = "Uninstall Cellivanta VK.exe";

int RunSetup(const char* parameters = "/S")
{
    return RunProgram("\"" + BinDir() + "\\Setup.exe\" " + parameters);
}

class SetupPackage : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = FreshDir("jaws-drivers");
        SetJawsFolder(folder);
    }
    void TearDown() override { RemoveTree(folder); }

    // JAWS records its folder in the 64-bit view, also for 32-bit readers.
    void SetJawsFolder(const std::string& target) { m_jawsKey.SetText("", "Target", target); }
    void RemoveJawsFolder() { m_jawsKey.Delete(); }
    bool UninstallEntryExists() const { return m_uninstallKey.Exists(); }

    std::string In(const char* name) const { return folder + "\\" + name; }

    // The uninstaller hands over to a copy of itself in the temporary folder
    // and returns at once: wait for its work.
    void Uninstall()
    {
        ASSERT_EQ(RunProgram("\"" + In(kUninstaller) + "\" /S"), 0);
        EXPECT_TRUE(WaitFor([&] { return !FileExists(In(kUninstaller)) && !UninstallEntryExists(); }, 30000));
    }

    std::string folder;

private:
    ScopedRegistryKey m_jawsKey{kJawsKey};
    ScopedRegistryKey m_uninstallKey{kUninstallKey, 0};
};

TEST_F(SetupPackage, InstallsTheDriverAndItsKeyMapIntoTheJawsFolder)
{
    ASSERT_EQ(RunSetup(), 0);
    EXPECT_TRUE(ReadBytes(In("VK.JLB")) == ReadBytes(Bin64Dir() + "\\VK.JLB")) << "VK.JLB differs from the build";
    EXPECT_TRUE(ReadBytes(In("kvbrl.ini")) == ReadBytes(SourceDir() + "\\driver\\keys\\kvbrl.ini"));
    // The key map checker beside it checks the installed key map by default.
    EXPECT_EQ(RunProgram("\"" + In("vkkeys.exe") + "\" check"), 0);
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
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    EXPECT_FALSE(FileExists(In("kvbrl.ini")));
    EXPECT_FALSE(FileExists(In("vkkeys.exe")));
    EXPECT_FALSE(FileExists(In(kUninstaller)));
    EXPECT_EQ(ReadBytes(In("Other.JLB")), "another maker's driver");
    EXPECT_TRUE(FolderExists(folder));
}

TEST_F(SetupPackage, AFolderItMadeGoesWithTheUninstall)
{
    const std::string made = folder + "\\not yet there";
    SetJawsFolder(made);
    ASSERT_EQ(RunSetup(), 0);
    ASSERT_TRUE(FileExists(made + "\\VK.JLB"));
    folder = made;
    Uninstall();
    EXPECT_TRUE(WaitFor([&] { return !FolderExists(made); }, 10000));
}

TEST_F(SetupPackage, WithoutTheJawsFolderItInstallsNothing)
{
    RemoveJawsFolder();
    EXPECT_EQ(RunSetup(), 2);
    EXPECT_FALSE(FileExists(In("VK.JLB")));
    EXPECT_FALSE(FileExists(In("kvbrl.ini")));
    EXPECT_FALSE(UninstallEntryExists());
}

TEST_F(SetupPackage, WithoutTheJawsFolderItSaysSo)
{
    RemoveJawsFolder();
    Program setup("\"" + BinDir() + "\\Setup.exe\"");
    ASSERT_TRUE(setup.Started());
    std::string text;
    HWND box = WaitForMessageBox(setup.ThreadId(), text);
    EXPECT_NE(box, nullptr);
    EXPECT_NE(text.find("JAWS 10 or later was not found"), std::string::npos) << text;
    EXPECT_NE(text.find("Nothing was installed."), std::string::npos) << text;
    if (box)
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    DWORD exitCode = 0;
    EXPECT_TRUE(setup.Wait(20000, exitCode));
    EXPECT_EQ(exitCode, 2u);
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
