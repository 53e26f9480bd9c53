// The dialog under Wine, worked through its own window messages: the buttons
// write their payloads into the working folder and start the right installer
// with the right parameters; the language settings pick the template; the
// keyboard reaches every control; closing cleans up in order.
#include "DialogRunner.h"
#include "FakePlatform.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

using namespace testenv;

namespace {

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        temp = FreshDir("dialog-temp");
        platform.SetTempPath(temp + "\\");
        workFolder = temp + "\\CellivantaInstall";
    }
    void TearDown() override { RemoveTree(temp); }

    std::string InFolder(const char* name) const { return workFolder + "\\" + name; }

    // The launch that a USB driver click must make with this installer.
    void ExpectInstallerStarted(const FakePlatform::Launch& launch, const char* installer)
    {
        EXPECT_EQ(launch.file, InFolder(installer));
        EXPECT_EQ(launch.parameters, "/f /se /lm");
        EXPECT_FALSE(launch.hasOwner);
        EXPECT_FALSE(launch.hasVerb);
        EXPECT_FALSE(launch.hasDirectory);
        EXPECT_EQ(launch.show, SW_SHOW);
    }

    void ExpectUsbPayloads(const std::string& installer, const std::string& expectedInstallerFile)
    {
        EXPECT_TRUE(ReadBytes(InFolder("win7-64.inf")) == ReadBytes(SourceDir() + "\\tools\\installer\\payloads\\win7-64.inf"));
        EXPECT_EQ(ReadBytes(InFolder("win7-64.inf")).size(), 865u);
        EXPECT_TRUE(ReadBytes(InFolder(installer.c_str())) == ReadBytes(expectedInstallerFile)) << installer;
    }

    FakePlatform platform;
    std::string temp;
    std::string workFolder;
};

TEST_F(DialogTest, StartsWithTheWorkingFolderAndStartsNothing)
{
    DialogRunner dialog;
    ASSERT_NE(dialog.Window(), nullptr);
    EXPECT_TRUE(FolderExists(workFolder));
    EXPECT_TRUE(GetWindowLongA(dialog.Window(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(platform.Launches().empty());
}

TEST_F(DialogTest, UsbDriverOn32BitWindowsOrWhenWindowsCannotTell)
{
    size_t clicks = 0;
    for (auto bitness : {FakePlatform::Bitness::Is32, FakePlatform::Bitness::Absent}) {
        platform.SetBitness(bitness);
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_USB_DRIVER);
        ExpectUsbPayloads("DPInst.exe", BinDir() + "\\DPInst.exe");
        EXPECT_FALSE(FileExists(InFolder("DPInst_x64.exe")));
        const auto launches = platform.Launches();
        ASSERT_EQ(launches.size(), ++clicks);
        ExpectInstallerStarted(launches.back(), "DPInst.exe");
    }
}

TEST_F(DialogTest, UsbDriverOn64BitWindows)
{
    platform.SetBitness(FakePlatform::Bitness::Is64);
    DialogRunner dialog;
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    ExpectUsbPayloads("DPInst_x64.exe", Bin64Dir() + "\\DPInst_x64.exe");
    EXPECT_FALSE(FileExists(InFolder("DPInst.exe")));
    const auto launches = platform.Launches();
    ASSERT_EQ(launches.size(), 1u);
    ExpectInstallerStarted(launches[0], "DPInst_x64.exe");
}

TEST_F(DialogTest, UsbDriverFollowsThisPlatformsOwnAnswer)
{
    BOOL isWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &isWow64);
    const char* installer = isWow64 ? "DPInst_x64.exe" : "DPInst.exe";
    DialogRunner dialog;
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    const auto launches = platform.Launches();
    ASSERT_EQ(launches.size(), 1u);
    ExpectInstallerStarted(launches[0], installer);
}

TEST_F(DialogTest, JawsDriverStartsTheSetupPackageWithoutParameters)
{
    DialogRunner dialog;
    dialog.Click(IDC_INSTALL_JAWS_DRIVER);
    EXPECT_TRUE(ReadBytes(InFolder("Setup.exe")) == ReadBytes(BinDir() + "\\Setup.exe"));
    EXPECT_FALSE(FileExists(InFolder("win7-64.inf")));
    const auto launches = platform.Launches();
    ASSERT_EQ(launches.size(), 1u);
    EXPECT_EQ(launches[0].file, InFolder("Setup.exe"));
    EXPECT_EQ(launches[0].parameters, "(null)");
    EXPECT_FALSE(launches[0].hasOwner);
    EXPECT_FALSE(launches[0].hasVerb);
    EXPECT_FALSE(launches[0].hasDirectory);
    EXPECT_EQ(launches[0].show, SW_SHOW);
}

TEST_F(DialogTest, EachClickWritesAndStartsAgainEvenOverABusyInstaller)
{
    platform.SetBitness(FakePlatform::Bitness::Is32);
    DialogRunner dialog;
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    // The first installer still runs: its file cannot be rewritten.
    HANDLE running = CreateFileA(InFolder("DPInst.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(running, INVALID_HANDLE_VALUE);
    DeleteFileA(InFolder("win7-64.inf").c_str());
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    CloseHandle(running);
    EXPECT_EQ(ReadBytes(InFolder("win7-64.inf")).size(), 865u);
    const auto launches = platform.Launches();
    ASSERT_EQ(launches.size(), 2u);
    ExpectInstallerStarted(launches[1], "DPInst.exe");
}

TEST_F(DialogTest, ClosingDeletesSetupInfInstallerThenTheFolder)
{
    platform.SetBitness(FakePlatform::Bitness::Is64);
    {
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_USB_DRIVER);
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        dialog.Click(IDCANCEL);
        ASSERT_TRUE(dialog.WaitClosed());
        EXPECT_EQ(dialog.Result(), IDCANCEL);
    }
    const std::vector<std::string> expected = {
        "delete " + InFolder("Setup.exe"), "delete " + InFolder("win7-64.inf"),
        "delete " + InFolder("DPInst_x64.exe"), "rmdir " + workFolder};
    EXPECT_EQ(platform.CleanUp(), expected);
    EXPECT_FALSE(FolderExists(workFolder));
}

TEST_F(DialogTest, ClosingWithoutAClickRemovesOnlyTheEmptyFolder)
{
    {
        DialogRunner dialog;
        dialog.Click(IDCANCEL);
        ASSERT_TRUE(dialog.WaitClosed());
    }
    EXPECT_EQ(platform.CleanUp(), std::vector<std::string>{"rmdir " + workFolder});
    EXPECT_FALSE(FolderExists(workFolder));
}

TEST_F(DialogTest, AFileStillInUseStaysWithItsFolder)
{
    platform.SetBitness(FakePlatform::Bitness::Is32);
    HANDLE running = INVALID_HANDLE_VALUE;
    {
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_USB_DRIVER);
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        // The setup package is still running when the dialog closes.
        running = CreateFileA(InFolder("Setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
        ASSERT_NE(running, INVALID_HANDLE_VALUE);
        dialog.Click(IDCANCEL);
        ASSERT_TRUE(dialog.WaitClosed());
    }
    CloseHandle(running);
    EXPECT_EQ(platform.CleanUp().size(), 4u);
    EXPECT_TRUE(FileExists(InFolder("Setup.exe")));
    EXPECT_FALSE(FileExists(InFolder("win7-64.inf")));
    EXPECT_FALSE(FileExists(InFolder("DPInst.exe")));
    EXPECT_TRUE(FolderExists(workFolder));
}

TEST_F(DialogTest, EscapeAndTheWindowsCloseActAsExit)
{
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way == 0 ? "Escape" : way == 1 ? "system menu Close" : "WM_CLOSE");
        DialogRunner dialog;
        ASSERT_TRUE(FolderExists(workFolder));
        if (way == 0)
            dialog.PressKey(VK_ESCAPE);
        else if (way == 1)
            dialog.CloseFromSystemMenu();
        else
            PostMessageA(dialog.Window(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(dialog.WaitClosed());
        EXPECT_EQ(dialog.Result(), IDCANCEL);
        EXPECT_FALSE(FolderExists(workFolder));
    }
}

TEST_F(DialogTest, MinimisedDialogShowsTheApplicationIcon)
{
    DialogRunner dialog;
    HICON big = reinterpret_cast<HICON>(SendMessageA(dialog.Window(), WM_GETICON, ICON_BIG, 0));
    HICON small = reinterpret_cast<HICON>(SendMessageA(dialog.Window(), WM_GETICON, ICON_SMALL, 0));
    HICON dragged = reinterpret_cast<HICON>(SendMessageA(dialog.Window(), WM_QUERYDRAGICON, 0, 0));
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(small, big);
    EXPECT_EQ(dragged, big);
    // The dialog has no minimize box; the shell can still minimise it. Under
    // Wine a request made while the new window is still being activated may be
    // lost, so it is repeated until it holds.
    ASSERT_TRUE(WaitFor([&] {
        PostMessageA(dialog.Window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        Sleep(50);
        return IsIconic(dialog.Window()) != FALSE;
    }, 5000));
    // Painting while minimised draws the icon and validates the window.
    RedrawWindow(dialog.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    EXPECT_TRUE(WaitFor([&] { return !GetUpdateRect(dialog.Window(), nullptr, FALSE); }, 3000));
    PostMessageA(dialog.Window(), WM_SYSCOMMAND, SC_RESTORE, 0);
    dialog.Click(IDCANCEL);
    EXPECT_TRUE(dialog.WaitClosed());
}

}  // namespace
