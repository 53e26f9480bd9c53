// The dialog in the user's language, as the platform picks it by id alone:
// French settings give the French template, any other the English one. The
// test process is started with the settings named by VKTEST_LANGUAGE ("fr" for
// French, "de" for a language the tool does not have); the test bundle's
// run takes the machine's settings as they are. Every button must be
// reachable from the keyboard, top to bottom by Tab and by its letter.
#include "DialogRunner.h"
#include "DialogTemplate.h"
#include "FakePlatform.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace testenv;

namespace {

std::string Utf8Text(HWND hWnd)
{
    wchar_t text[512] = {};
    GetWindowTextW(hWnd, text, 512);
    char utf8[1024] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
    return utf8;
}

class DialogLanguageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        french = FrenchUser();
        // The process must really run with the settings named, or the test proves nothing.
        std::string named;
        if (NamedLanguage(named)) {
            ASSERT_EQ(PRIMARYLANGID(GetUserDefaultLangID()), french ? LANG_FRENCH : LANG_GERMAN);
        }
        temp = FreshDir("language-temp");
        platform.SetTempPath(temp + "\\");
        platform.SetBitness(FakePlatform::Bitness::Is32);
    }
    void TearDown() override { RemoveTree(temp); }

    // The buttons from top to bottom: the order a sighted reader takes them in.
    static std::vector<HWND> ButtonsTopToBottom(HWND dialog)
    {
        std::vector<std::pair<LONG, HWND>> buttons;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char className[16] = {};
            GetClassNameA(child, className, sizeof(className));
            RECT rect;
            GetWindowRect(child, &rect);
            if (lstrcmpiA(className, "Button") == 0)
                buttons.emplace_back(rect.top, child);
        }
        std::sort(buttons.begin(), buttons.end());
        std::vector<HWND> order;
        for (const auto& button : buttons)
            order.push_back(button.second);
        return order;
    }

    FakePlatform platform;
    std::string temp;
    bool french = false;
};

TEST_F(DialogLanguageTest, TemplateOfTheUsersLanguage)
{
    DialogRunner dialog;
    ASSERT_NE(dialog.Window(), nullptr);
    DialogTemplate expected;
    ASSERT_TRUE(expected.Load(GetModuleHandleA(nullptr), IDD_TESSALINE_DIALOG,
                              MAKELANGID(french ? LANG_FRENCH : LANG_ENGLISH, SUBLANG_NEUTRAL)));
    EXPECT_EQ(Utf8Text(dialog.Window()), expected.caption);
    // Button 1000 is the default button in both, whatever has the focus.
    EXPECT_EQ(SendMessageA(dialog.Window(), DM_GETDEFID, 0, 0), MAKELRESULT(IDC_INSTALL_USB_DRIVER, DC_HASDEFID));
}

// The first focus is on the USB driver, which the text asks for first; Tab
// then takes the buttons as they stand, top to bottom, and comes round.
TEST_F(DialogLanguageTest, FirstFocusAndTabOrder)
{
    DialogRunner dialog;
    const std::vector<HWND> order = ButtonsTopToBottom(dialog.Window());
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order[0], dialog.Item(IDC_INSTALL_USB_DRIVER));
    for (size_t step = 0; step <= order.size(); ++step) {
        HWND expected = order[step % order.size()];
        ASSERT_TRUE(WaitFor([&] { return dialog.Focus() == expected; }, 3000))
            << "step " << step << ": focus on " << GetDlgCtrlID(dialog.Focus()) << ", expected "
            << GetDlgCtrlID(expected);
        dialog.PressKey(VK_TAB);
    }
}

TEST_F(DialogLanguageTest, EnterOnTheFirstFocusInstallsTheUsbDriver)
{
    DialogRunner dialog;
    dialog.PressKey(VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return platform.Launches().size() == 1; }));
    EXPECT_EQ(platform.Launches()[0].file, FakePlatform::WorkFolderIn(temp) + "\\DPInst.exe");
}

TEST_F(DialogLanguageTest, MnemonicsReachEveryButton)
{
    DialogRunner dialog;
    dialog.PressMnemonic('u');
    ASSERT_TRUE(WaitFor([&] { return platform.Launches().size() == 1; }));
    EXPECT_EQ(platform.Launches()[0].file, FakePlatform::WorkFolderIn(temp) + "\\DPInst.exe");
    dialog.PressMnemonic('j');
    ASSERT_TRUE(WaitFor([&] { return platform.Launches().size() == 2; }));
    EXPECT_EQ(platform.Launches()[1].file, FakePlatform::WorkFolderIn(temp) + "\\Setup.exe");
    dialog.PressMnemonic(french ? 'f' : 'e');
    ASSERT_TRUE(dialog.WaitClosed());
    EXPECT_EQ(dialog.Result(), IDCANCEL);
}

}  // namespace
