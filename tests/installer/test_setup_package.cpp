// The setup package Setup.exe under Wine, as the tool starts it and silently
// (/S): it installs VK.JLB and kvbrl.ini into the folder that JAWS names for
// braille drivers of other makers, or stops with its message and its own exit
// code when there is none or it cannot check; it closes the PC emulator
// first; its uninstaller takes back exactly what it put there.
#include "SetupFixture.h"

#include <atomic>

using namespace testenv;

namespace {

const char kUninstaller[] = "Uninstall Cellivanta VK.exe";

using SetupPackage = SetupFixture;

TEST_F(SetupPackage, InstallsTheDriverAndItsToolsIntoTheJawsFolder)
{
    ASSERT_EQ(RunSetup(), 0);
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
    for (const char* name : {"VK.JLB", "kvbrl.ini", "vkkeys.exe", "vkdiag.exe", kUninstaller})
        EXPECT_FALSE(FileExists(In(name))) << name;
    EXPECT_EQ(ReadBytes(In("Other.JLB")), "another maker's driver");
    EXPECT_TRUE(FolderExists(folder));
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
    EXPECT_TRUE(WaitFor([&] { return !FolderExists(made); }, 10000));
}

// A silent setup logs into a new folder it made itself in the temporary
// folder: a file planted at a predictable name (a link, for an elevated
// setup) is never written.
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
    const std::string log = ReadBytes(temp + logs[0] + "\\Cellivanta VK setup.log");
    EXPECT_NE(log.find("JAWS 10 or later was not found"), std::string::npos) << log;
    RemoveLogFolders(temp);
}

// Pellacore.dll blocked (here: disabled by Wine's loader, through the
// prefix's DLL overrides) is not 32-bit Windows.
TEST_F(SetupPackage, WhenItsHelperCannotLoadItSaysItCouldNotCheck)
{
    const char kOverrides[] = "Software\\Wine\\DllOverrides";
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kOverrides, "pellacore", REG_SZ, "", 1), ERROR_SUCCESS);
    std::string log;
    const int exitCode = RunSetupLogged("", log);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kOverrides, "pellacore");
    EXPECT_EQ(exitCode, 5);
    EXPECT_NE(log.find("could not check whether this computer runs 64-bit Windows"), std::string::npos) << log;
    EXPECT_EQ(log.find("needs 64-bit Windows"), std::string::npos) << log;
    EXPECT_FALSE(FileExists(In("VK.JLB")));
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
    EXPECT_EQ(exitCode, 4u);
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
