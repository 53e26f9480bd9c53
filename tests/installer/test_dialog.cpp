// The dialog under Wine, worked through its own window messages: the buttons
// write their payloads into the working folder made at the click and start
// the right installer with the right parameters, never through a link nor a
// file the tool could not hold; the language settings pick the template; the
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
    }
    void TearDown() override { RemoveTree(temp); }

    // The working folder the dialog made (a new one each time).
    std::string WorkFolder() const { return FakePlatform::WorkFolderIn(temp); }
    std::string InFolder(const char* name) const { return WorkFolder() + "\\" + name; }

    // The launch that a USB driver click must make with this installer: owned
    // by the dialog, and of a file nobody else could write to as it started.
    void ExpectInstallerStarted(const FakePlatform::Launch& launch, const char* installer, HWND dialog)
    {
        EXPECT_EQ(launch.file, InFolder(installer));
        EXPECT_EQ(launch.parameters, "/f /se /lm");
        EXPECT_EQ(launch.owner, dialog);
        EXPECT_FALSE(launch.writable);
        EXPECT_FALSE(launch.hasVerb);
        EXPECT_FALSE(launch.hasDirectory);
        EXPECT_EQ(launch.show, SW_SHOW);
    }

    void ExpectUsbPayloads(const std::string& installer, const std::string& expectedInstallerFile)
    {
        EXPECT_TRUE(ReadBytes(InFolder("win7-64.inf")) == ReadBytes(SourceDir() + "\\tools\\installer\\payloads\\win7-64.inf"));
        EXPECT_TRUE(ReadBytes(InFolder(installer.c_str())) == ReadBytes(expectedInstallerFile)) << installer;
    }

    FakePlatform platform;
    std::string temp;
};

// The working folder is made at the first click: an empty folder waiting
// for it could be turned into a link meanwhile.
TEST_F(DialogTest, StartsWithoutAWorkingFolderAndStartsNothing)
{
    DialogRunner dialog;
    ASSERT_NE(dialog.Window(), nullptr);
    EXPECT_EQ(WorkFolder(), "");
    dialog.Click(IDC_INSTALL_JAWS_DRIVER);
    const std::string name = WorkFolder().substr(temp.size() + 1);
    EXPECT_EQ(name.size(), strlen("CellivantaInstall-") + 16) << name;
    EXPECT_EQ(name.find_first_not_of("0123456789ABCDEF", strlen("CellivantaInstall-")), std::string::npos) << name;
    EXPECT_TRUE(GetWindowLongA(dialog.Window(), GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(platform.Launches().size(), 1u);
    EXPECT_TRUE(platform.Messages().empty());
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
        ExpectInstallerStarted(launches.back(), "DPInst.exe", dialog.Window());
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
    ExpectInstallerStarted(launches[0], "DPInst_x64.exe", dialog.Window());
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
    ExpectInstallerStarted(launches[0], installer, dialog.Window());
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
    EXPECT_EQ(launches[0].owner, dialog.Window());
    EXPECT_FALSE(launches[0].writable);
    EXPECT_FALSE(launches[0].hasVerb);
    EXPECT_FALSE(launches[0].hasDirectory);
    EXPECT_EQ(launches[0].show, SW_SHOW);
}

// The files written by the first click are still held: the second starts them again.
// Already elevated, the tool starts the checked file itself with a quoted
// command line; the shell (and the user's class settings it follows) is only
// for the elevation prompt.
TEST_F(DialogTest, ElevatedItStartsThePayloadItselfNotThroughTheShell)
{
    platform.SetElevated(true);
    platform.SetBitness(FakePlatform::Bitness::Is32);
    DialogRunner dialog;
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    dialog.Click(IDC_INSTALL_JAWS_DRIVER);
    const auto launches = platform.Launches();
    ASSERT_EQ(launches.size(), 2u);
    EXPECT_FALSE(launches[0].viaShell);
    EXPECT_EQ(launches[0].file, InFolder("DPInst.exe"));
    EXPECT_EQ(launches[0].parameters, "\"" + InFolder("DPInst.exe") + "\" /f /se /lm");
    EXPECT_FALSE(launches[0].writable);
    EXPECT_FALSE(launches[1].viaShell);
    EXPECT_EQ(launches[1].parameters, "\"" + InFolder("Setup.exe") + "\"");
    EXPECT_EQ(platform.Messages().size(), 0u);
}

TEST_F(DialogTest, ASecondClickStartsTheHeldInstallerAgain)
{
    platform.SetBitness(FakePlatform::Bitness::Is32);
    DialogRunner dialog;
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    ExpectUsbPayloads("DPInst.exe", BinDir() + "\\DPInst.exe");
    const auto launches = platform.Launches();
    ASSERT_EQ(launches.size(), 2u);
    ExpectInstallerStarted(launches[1], "DPInst.exe", dialog.Window());
    EXPECT_TRUE(platform.Messages().empty());
}

// Another program of the user prepares the folder the tool will use, or puts
// its own installer into the tool's folder and holds it: nothing of it is
// ever started, and the user is told why nothing happened.
TEST_F(DialogTest, AFolderOrPayloadPreparedByAnotherProgramIsNeverStarted)
{
    platform.SetBitness(FakePlatform::Bitness::Is32);
    platform.CountRandom();
    const std::string prepared = temp + "\\CellivantaInstall-0000000000000000";  // the first name drawn
    ASSERT_TRUE(CreateDirectoryA(prepared.c_str(), nullptr));
    WriteBytes(prepared + "\\DPInst.exe", "planted");
    {
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_USB_DRIVER);
        EXPECT_TRUE(FolderExists(temp + "\\CellivantaInstall-0101010101010101")) << "the next name drawn";
        const auto launches = platform.Launches();
        ASSERT_EQ(launches.size(), 1u);
        EXPECT_EQ(launches[0].file, temp + "\\CellivantaInstall-0101010101010101\\DPInst.exe");
        EXPECT_FALSE(launches[0].writable);
    }
    EXPECT_EQ(ReadBytes(prepared + "\\DPInst.exe"), "planted");
    RemoveTree(prepared);

    DialogRunner dialog;
    dialog.Click(IDC_INSTALL_JAWS_DRIVER);  // makes the folder
    const std::string planted = InFolder("DPInst.exe");
    WriteBytes(planted, "planted");
    HANDLE held = CreateFileA(planted.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    dialog.Click(IDC_INSTALL_USB_DRIVER);
    CloseHandle(held);
    EXPECT_EQ(platform.Launches().size(), 2u) << "nothing started by the USB driver click";
    const auto messages = platform.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].owner, dialog.Window());
    EXPECT_EQ(messages[0].text.rfind("The installation files could not be written", 0), 0u) << messages[0].text;
    EXPECT_NE(messages[0].text.find("(error 80)"), std::string::npos) << messages[0].text;
    EXPECT_EQ(ReadBytes(planted), "planted");
}

// Once the dialog is open, another program turns a folder on the temporary
// folder's path into a link to a place of its own: whether the tool's folder
// was made before the link came or would be made behind it, the click starts
// nothing and says why.
TEST_F(DialogTest, APathLeadingThroughALinkIsRefused)
{
    VK_SKIP_IF(WhyNoLinks());
    // The test registration makes C:\vktest-swap-box\sw, a link to C:\vktest-link-target.
    // Wine renames what a link leads to, not the link: the folder holding it is moved instead.
    const std::string swapped = "C:\\vktest-swap", aside = "C:\\vktest-swap-aside", box = "C:\\vktest-swap-box";
    ASSERT_TRUE(CreateDirectoryA(swapped.c_str(), nullptr) && CreateDirectoryA((swapped + "\\sw").c_str(), nullptr));
    platform.SetTempPath(swapped + "\\sw\\");
    platform.CountRandom();  // the names drawn: 00..., then 01...
    auto linkIn = [&] { return MoveFileA(swapped.c_str(), aside.c_str()) && MoveFileA(box.c_str(), swapped.c_str()); };
    auto linkOut = [&] { return MoveFileA(swapped.c_str(), box.c_str()) && MoveFileA(aside.c_str(), swapped.c_str()); };
    for (bool madeBefore : {true, false}) {
        DialogRunner dialog;
        if (madeBefore)
            dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        ASSERT_TRUE(linkIn()) << "the test registration makes the link";
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        EXPECT_TRUE(linkOut());
    }
    EXPECT_EQ(platform.Launches().size(), 1u) << "only the click before the link";
    const auto messages = platform.Messages();
    ASSERT_EQ(messages.size(), 2u);
    for (const FakePlatform::Message& message : messages)
        EXPECT_EQ(message.text.rfind("Nothing was started: the way to the installation files", 0), 0u) << message.text;
    EXPECT_FALSE(FolderExists("C:\\vktest-link-target\\CellivantaInstall-0101010101010101")) << "made behind the link";
    RemoveTree(swapped);
}

// Another program gets at a payload just written before the tool holds it:
// an antivirus keeping it open, a failed read, a changed byte. Nothing is
// started, malware is named only for a real change, the file goes (once let
// go), a later click works, and closing leaves nothing behind.
TEST_F(DialogTest, APayloadTheToolCouldNotHoldIsSaidAndRemoved)
{
    using What = FakePlatform::Interference;
    const char* const unread = "The installation files were written to your temporary folder but could not be read back";
    const struct {
        What what;
        bool clickAgain;
        const char* start;
        const char* number;
    } cases[] = {{What::Holds, false, unread, "(error 32)"},
                 {What::Holds, true, unread, "(error 32)"},
                 {What::ReadFails, true, unread, "(error 30)"},
                 {What::Changes, true, "Another program changed the installation files", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        const size_t launches = platform.Launches().size();
        {
            DialogRunner dialog;
            platform.InterfereWith("Setup.exe", c.what);
            dialog.Click(IDC_INSTALL_JAWS_DRIVER);
            platform.LetGo();
            EXPECT_EQ(platform.Launches().size(), launches);
            const std::string text = platform.Messages().back().text;
            EXPECT_EQ(text.rfind(c.start, 0), 0u) << text;
            EXPECT_NE(text.find(c.number), std::string::npos) << text;
            if (c.clickAgain)
                dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        }
        EXPECT_EQ(platform.Launches().size(), launches + (c.clickAgain ? 1 : 0));
        EXPECT_EQ(WorkFolder(), "") << "nothing left in the temporary folder";
    }
}

// No working folder, a refused elevation prompt, a payload the platform will
// not start, a Windows 7 without the loader update (where the setup package
// would load DLLs by name, as administrator, from the temporary folder): each
// is said in its own words, in a box owned by the dialog with its caption,
// and nothing is started from anywhere else.
TEST_F(DialogTest, EveryFailureIsSaid)
{
    struct Case {
        bool tempFails;
        DWORD tempResult;  // what the temporary folder query answers when it fails
        DWORD launchError;
        const char* start;
        const char* number;
        bool safeDllSearch;
    };
    const Case cases[] = {
        {true, 0, ERROR_SUCCESS, "The installation files could not be written", nullptr, true},
        {true, 300, ERROR_SUCCESS, "The installation files could not be written", "(error 206)", true},
        {false, 0, ERROR_CANCELLED, "The installer was not started: Windows asked for permission", nullptr, true},
        {false, 0, ERROR_ACCESS_DENIED, "The installer could not be started.", "(error 5)", true},
        {false, 0, ERROR_SUCCESS, "The driver for JAWS was not installed: this Windows lacks", "KB2533623", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        platform.SetTempPath(temp + "\\");
        if (c.tempFails)
            platform.FailTempPath(c.tempResult);
        platform.FailLaunches(c.launchError);
        platform.SetSafeDllSearch(c.safeDllSearch);
        const size_t launchesBefore = platform.Launches().size();
        const size_t messagesBefore = platform.Messages().size();
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        const auto messages = platform.Messages();
        ASSERT_EQ(messages.size(), messagesBefore + 1);
        const FakePlatform::Message& message = messages.back();
        EXPECT_EQ(message.owner, dialog.Window());
        EXPECT_EQ(message.caption, "Cellivanta VK tools installation");
        EXPECT_EQ(message.text.rfind(c.start, 0), 0u) << message.text;
        if (c.number) {
            EXPECT_NE(message.text.find(c.number), std::string::npos) << message.text;
        }
        EXPECT_EQ(platform.Launches().size(), launchesBefore + (c.tempFails || !c.safeDllSearch ? 0 : 1));
    }
    EXPECT_EQ(FakePlatform::WorkFolderIn("c:\\windows\\temp"), "") << "no shared fallback";
}

// A temporary folder whose name the ANSI code page cannot spell.
TEST_F(DialogTest, ATemporaryFolderOutsideTheCodePageIsUsedAsItIs)
{
    const std::wstring unusual = FakePlatform::Wide(temp) + L"\\\u03A9mega \u20AC";  // omega, euro sign
    ASSERT_TRUE(CreateDirectoryW(unusual.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    platform.SetTempPath(FakePlatform::Utf8(unusual));
    platform.SetBitness(FakePlatform::Bitness::Is32);
    {
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_USB_DRIVER);
        EXPECT_TRUE(platform.Messages().empty());
        const auto launches = platform.Launches();
        ASSERT_EQ(launches.size(), 1u);
        const std::string folder = FakePlatform::WorkFolderIn(FakePlatform::Utf8(unusual));
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(launches[0].file, folder + "\\DPInst.exe");
        EXPECT_NE(GetFileAttributesW(FakePlatform::Wide(launches[0].file).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    RemoveDirectoryW(unusual.c_str());  // the narrow clean-up cannot name it
}

TEST_F(DialogTest, ClosingDeletesThePayloadsThenTheFolder)
{
    platform.SetBitness(FakePlatform::Bitness::Is64);
    std::string workFolder;
    {
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_USB_DRIVER);
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        workFolder = WorkFolder();
        dialog.Click(IDCANCEL);
        ASSERT_TRUE(dialog.WaitClosed());
        EXPECT_EQ(dialog.Result(), IDCANCEL);
    }
    const std::vector<std::string> expected = {
        "delete " + workFolder + "\\DPInst_x64.exe", "delete " + workFolder + "\\Setup.exe",
        "delete " + workFolder + "\\win7-64.inf", "rmdir " + workFolder};
    EXPECT_EQ(platform.CleanUp(), expected);
    EXPECT_FALSE(FolderExists(workFolder));
}

TEST_F(DialogTest, ClosingWithoutAClickLeavesNothing)
{
    {
        DialogRunner dialog;
        dialog.Click(IDCANCEL);
        ASSERT_TRUE(dialog.WaitClosed());
    }
    EXPECT_EQ(platform.CleanUp(), std::vector<std::string>{});
    EXPECT_EQ(WorkFolder(), "");
}

TEST_F(DialogTest, AFileStillInUseStaysWithItsFolder)
{
    platform.SetBitness(FakePlatform::Bitness::Is32);
    HANDLE running = INVALID_HANDLE_VALUE;
    std::string workFolder;
    {
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_USB_DRIVER);
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        workFolder = WorkFolder();
        // The setup package is still running when the dialog closes.
        running = CreateFileA(InFolder("Setup.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
        ASSERT_NE(running, INVALID_HANDLE_VALUE);
        dialog.Click(IDCANCEL);
        ASSERT_TRUE(dialog.WaitClosed());
    }
    CloseHandle(running);
    EXPECT_EQ(platform.CleanUp().size(), 3u) << "the running one is not even opened for deleting";
    EXPECT_TRUE(FileExists(workFolder + "\\Setup.exe"));
    EXPECT_FALSE(FileExists(workFolder + "\\win7-64.inf"));
    EXPECT_FALSE(FileExists(workFolder + "\\DPInst.exe"));
    EXPECT_TRUE(FolderExists(workFolder));
}

// The path to the payloads leads elsewhere by the time the dialog closes
// (Wine cannot put a link in place of a held file: the folder holding the
// working folder is swapped for one whose link leads to another folder).
// What lies there under the same names is not touched.
TEST_F(DialogTest, ClosingDeletesNothingALinkLeadsTo)
{
    const std::string swapped = "C:\\vktest-swap", aside = "C:\\vktest-swap-aside", box = "C:\\vktest-swap-box";
    ASSERT_TRUE(CreateDirectoryA(swapped.c_str(), nullptr) && CreateDirectoryA((swapped + "\\sw").c_str(), nullptr));
    platform.SetTempPath(swapped + "\\sw\\");
    platform.CountRandom();
    const std::string elsewhere = "C:\\vktest-link-target\\CellivantaInstall-0000000000000000";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    WriteBytes(elsewhere + "\\Setup.exe", "not the tool's");
    {
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        ASSERT_EQ(platform.Launches().size(), 1u);
        ASSERT_TRUE(MoveFileA(swapped.c_str(), aside.c_str()) && MoveFileA(box.c_str(), swapped.c_str()));
        dialog.Click(IDCANCEL);
        ASSERT_TRUE(dialog.WaitClosed());
    }
    EXPECT_TRUE(MoveFileA(swapped.c_str(), box.c_str()) && MoveFileA(aside.c_str(), swapped.c_str()));
    EXPECT_EQ(ReadBytes(elsewhere + "\\Setup.exe"), "not the tool's");
    EXPECT_TRUE(FolderExists(elsewhere));
    EXPECT_EQ(platform.CleanUp(), std::vector<std::string>{}) << "nothing was deleted through the link";
    EXPECT_EQ(platform.Messages().size(), 0u) << "closing says nothing";
    RemoveTree(elsewhere);
    RemoveTree(swapped);
}

TEST_F(DialogTest, EscapeAndTheWindowsCloseActAsExit)
{
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way == 0 ? "Escape" : way == 1 ? "system menu Close" : "WM_CLOSE");
        DialogRunner dialog;
        dialog.Click(IDC_INSTALL_JAWS_DRIVER);
        const std::string workFolder = WorkFolder();
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
