// The dialog in the user's language, as the platform picks it by id alone:
// French settings give the French template, any other the English one. The
// test process is started with the settings named by VKTEST_LANGUAGE ("fr" for
// French, "de" for a language the tool does not have). Every control must be
// reachable from the keyboard, in the template's tab order and by mnemonic.
#include "DialogRunner.h"
#include "FakePlatform.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace testenv;

namespace {

struct Expected {
    const char* caption;
    std::vector<int> childIds;  // template order; -1 for static texts
    std::vector<int> tabOrder;  // from the first focus on
    char exitMnemonic;
};

const Expected kEnglish = {"Cellivanta VK tools installation",
                           {-1, -1, -1, IDC_INSTALL_USB_DRIVER, IDC_INSTALL_JAWS_DRIVER, IDCANCEL},
                           {IDC_INSTALL_USB_DRIVER, IDC_INSTALL_JAWS_DRIVER, IDCANCEL},
                           'e'};
const Expected kFrench = {"Installation des outils pour le terminal Cellivanta VK",
                          {-1, -1, IDC_INSTALL_JAWS_DRIVER, IDCANCEL, -1, IDC_INSTALL_USB_DRIVER},
                          {IDC_INSTALL_JAWS_DRIVER, IDCANCEL, IDC_INSTALL_USB_DRIVER},
                          'f'};

class DialogLanguageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* language = getenv("VKTEST_LANGUAGE");
        ASSERT_NE(language, nullptr) << "the test registration names the user's language";
        const bool french = std::string(language) == "fr";
        // The process must really run with those settings, or the test proves nothing.
        ASSERT_EQ(PRIMARYLANGID(GetUserDefaultLangID()), french ? LANG_FRENCH : LANG_GERMAN);
        expected = french ? &kFrench : &kEnglish;
        temp = FreshDir("language-temp");
        platform.SetTempPath(temp + "\\");
        platform.SetBitness(FakePlatform::Bitness::Is32);
    }
    void TearDown() override { RemoveTree(temp); }

    FakePlatform platform;
    std::string temp;
    const Expected* expected = nullptr;
};

TEST_F(DialogLanguageTest, TemplateOfTheUsersLanguage)
{
    DialogRunner dialog;
    ASSERT_NE(dialog.Window(), nullptr);
    EXPECT_EQ(dialog.Text(dialog.Window()), expected->caption);
    std::vector<int> ids;
    for (HWND child = GetWindow(dialog.Window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ids.push_back(static_cast<short>(GetDlgCtrlID(child)));
    EXPECT_EQ(ids, expected->childIds);
    // Button 1000 is the default button in both, whatever has the focus.
    EXPECT_EQ(SendMessageA(dialog.Window(), DM_GETDEFID, 0, 0), MAKELRESULT(IDC_INSTALL_USB_DRIVER, DC_HASDEFID));
}

TEST_F(DialogLanguageTest, FirstFocusAndTabOrder)
{
    DialogRunner dialog;
    const std::vector<int>& order = expected->tabOrder;
    for (size_t step = 0; step <= order.size(); ++step) {
        const int id = order[step % order.size()];
        ASSERT_TRUE(WaitFor([&] { return dialog.Focus() == dialog.Item(id); }, 3000))
            << "step " << step << ": focus on " << GetDlgCtrlID(dialog.Focus()) << ", expected " << id;
        dialog.PressKey(VK_TAB);
    }
}

TEST_F(DialogLanguageTest, EnterOnTheFirstFocusInstallsTheUsbDriver)
{
    // With the focus on another push button (French), which button Enter
    // presses is the platform's affair.
    if (expected->tabOrder[0] != IDC_INSTALL_USB_DRIVER)
        GTEST_SKIP() << "the first focus is not on the default button";
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
    dialog.PressMnemonic(expected->exitMnemonic);
    ASSERT_TRUE(dialog.WaitClosed());
    EXPECT_EQ(dialog.Result(), IDCANCEL);
}

}  // namespace
