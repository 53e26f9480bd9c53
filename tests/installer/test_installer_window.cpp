// The driver package installer's window in the user's language (the test
// process is started with the settings named by VKTEST_LANGUAGE, or the test
// bundle's run takes the machine's, as for the tool's dialog): the progress page while the installation runs, then the
// outcome page with a Finish button that the keyboard reaches, and every text
// of both pages whole in its control.
#include "CInstallerWindow.h"
#include "DPInstResource.h"
#include "DialogRunner.h"
#include "HeldInstallation.h"
#include "PlantedDlls.h"
#include "TestEnv.h"
#include "TextFit.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testenv;

namespace {

using Outcome = CDriverPackageInstaller::Outcome;

// Texts as the window shows them; accented letters are left out of what is
// compared, since the narrow text depends on the code page.
struct Texts {
    const char* caption;
    const char* heading;
    char finishMnemonic;
    const char* installed;
    const char* upToDate;
    const char* ready;
    const char* failed;
    const char* restart;
    const char* accessDenied;  // how error 5 is numbered
};

const Texts kEnglish = {"Cellivanta VK USB driver",
                        "Installing the Cellivanta VK USB driver",
                        'f',
                        "The Cellivanta VK USB driver is installed.",
                        "The Cellivanta VK USB driver is already up to date.",
                        "No Cellivanta VK display is connected. The USB driver is ready",
                        "The Cellivanta VK USB driver could not be installed.",
                        "Restart the computer to finish the installation.",
                        "(error 5)"};
const Texts kFrench = {"Pilote USB Cellivanta VK",
                       "Installation du pilote USB Cellivanta VK",
                       't',
                       "Le pilote USB Cellivanta VK est install",
                       "Le pilote USB Cellivanta VK est d",
                       "Aucun afficheur Cellivanta VK n'est branch",
                       "Le pilote USB Cellivanta VK n'a pas pu ",
                       "l'ordinateur pour terminer l'installation.",
                       "(erreur 5)"};

enum class Finish { Enter, Mnemonic, Escape, Close };

struct WindowCase {
    Outcome outcome;
    bool restart;
    DWORD error;
    std::vector<std::wstring> refused;
    Finish finish;
};

class InstallerWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        texts = testenv::FrenchUser() ? &kFrench : &kEnglish;
    }

    const char* Expected(const WindowCase& c) const
    {
        switch (c.outcome) {
        case Outcome::Installed:
            return texts->installed;
        case Outcome::UpToDate:
            return texts->upToDate;
        case Outcome::ReadyForDevice:
            return texts->ready;
        default:
            return texts->failed;
        }
    }

    const Texts* texts = nullptr;
};

// The controls that reach below the page's client area, or above it, by id.
std::vector<int> ControlsCutOff(HWND page)
{
    std::vector<int> cut;
    RECT client = {};
    GetClientRect(page, &client);
    for (HWND control = GetWindow(page, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
        RECT rect = {};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&rect), 2);
        if (rect.top < 0 || rect.bottom > client.bottom)
            cut.push_back(GetDlgCtrlID(control));
    }
    return cut;
}

TEST_F(InstallerWindowTest, ProgressPageThenOutcomeUntilFinish)
{
    SetProcessDPIAware();  // as the installer declares itself
    const WindowCase cases[] = {
        {Outcome::Installed, false, 0, {}, Finish::Enter},
        {Outcome::ReadyForDevice, true, 0, {}, Finish::Mnemonic},
        {Outcome::UpToDate, false, 0, {}, Finish::Escape},
        // A name outside the ANSI code page shows whole.
        {Outcome::Failed, false, ERROR_ACCESS_DENIED, {L"C:\\Temp\\CellivantaInstall\\\u03A9mega-planted.inf"}, Finish::Close},
        // Each refused INF adds a paragraph: the page grows to hold them.
        {Outcome::ReadyForDevice, true, 0, {L"C:\\Temp\\usb-serial-adapter-of-another-maker.inf",
                                            L"C:\\Temp\\driver-package-left-by-another-program.inf"}, Finish::Enter},
    };
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(Expected(c));
        CDriverPackageInstaller::Result result;
        result.outcome = c.outcome;
        result.bRebootRequired = c.restart;
        result.dwError = c.error;
        result.refusedInfs = c.refused;
        HeldInstallation installation(result);
        DialogRunner window([&] { return installation.RunWindow(); });

        // While installing: the device's name, no way out yet.
        HWND progress = window.Window();
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(window.Text(progress), texts->caption);
        std::string text;
        WaitForMessageBox(window.ThreadId(), text);
        EXPECT_NE(text.find("Kelvadore Cellivanta Virtual Com Port"), std::string::npos) << text;
        EXPECT_EQ(window.Text(GetDlgItem(progress, -1)), texts->heading);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(progress, IDC_FINISH_DISABLED)));
        EXPECT_EQ(TextsThatDoNotFit(progress), std::vector<std::string>{});
        window.PressKey(VK_ESCAPE);
        PostMessageA(progress, WM_CLOSE, 0, 0);
        Sleep(200);
        EXPECT_TRUE(IsWindow(progress)) << "the installation cannot be left half-way";
        installation.Release();

        // The outcome, with the focus on Finish.
        HWND page = nullptr;
        const std::string expected = Expected(c);
        EXPECT_TRUE(WaitFor([&] {
            page = WaitForMessageBox(window.ThreadId(), text, 1000);
            return page != progress && text.find(expected) != std::string::npos;
        })) << text;
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(GetWindow(page, GW_OWNER), progress) << "made after the progress page closed";
        EXPECT_EQ(window.Text(page), texts->caption);
        EXPECT_EQ(text.find(texts->restart) != std::string::npos, c.restart) << text;
        if (c.error) {
            EXPECT_NE(text.find(texts->accessDenied), std::string::npos) << text;
        }
        wchar_t shown[1024] = {};
        GetDlgItemTextW(page, IDC_PAGE_TEXT, shown, 1024);
        for (const std::wstring& refused : c.refused)
            EXPECT_NE(std::wstring(shown).find(CDriverPackageInstaller::NameOf(refused)), std::wstring::npos) << text;
        EXPECT_TRUE(WaitFor([&] { return window.Focus() == GetDlgItem(page, IDOK); }, 3000));
        EXPECT_EQ(TextsThatDoNotFit(page), std::vector<std::string>{});
        EXPECT_EQ(ControlsCutOff(page), std::vector<int>{});

        switch (c.finish) {
        case Finish::Enter:
            window.PressKey(VK_RETURN);
            break;
        case Finish::Mnemonic:
            window.PressMnemonic(texts->finishMnemonic);
            break;
        case Finish::Escape:
            window.PressKey(VK_ESCAPE);
            break;
        case Finish::Close:
            PostMessageA(page, WM_CLOSE, 0, 0);
            break;
        }
        ASSERT_TRUE(window.WaitClosed());
        EXPECT_EQ(static_cast<DWORD>(window.Result()), result.ExitCode());
    }
}

// Both pages, every outcome, with large text too.
TEST_F(InstallerWindowTest, PagesFitWithLargeText)
{
    if (CheckedDpi() != USER_DEFAULT_SCREEN_DPI)
        GTEST_SKIP() << "run by the check at the usual setting";
    std::string output;
    EXPECT_EQ(RunAtDpi(192, "InstallerWindowTest.ProgressPageThenOutcomeUntilFinish", output), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
