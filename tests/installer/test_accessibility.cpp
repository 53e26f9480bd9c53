// Every window a user meets while installing, as a screen reader meets it:
// through MSAA (oleacc) from this process, as a screen reader asks from its
// own. Each window or page must give every control a name to speak, put the
// first focus on its default action, and let Tab reach every control in
// reading order; the USB driver installer's outcome must be announced.
//
// What Wine (8.0) answers: oleacc gives each standard control its name (the
// text, '&' taken out) and its state (focused, unavailable), but the role
// "client" for all of them (no push button, static text or progress bar), so
// a role is checked only where one is answered; it takes no name from a
// label before a control, so a progress bar has none (screen readers speak
// its value). The focus is read from the window's thread (GetGUIThreadInfo)
// and matched with the state oleacc reports. Wine calls an in-context
// WinEvent hook on the thread that raises the event, as Windows does. The
// checks stay generic (no texts, no control lists), so pages and texts may
// change without a change here.
#include "AccessibleView.h"
#include "DialogRunner.h"
#include "FakePlatform.h"
#include "HeldInstallation.h"
#include "TestEnv.h"
#include "TextFit.h"

#include <gtest/gtest.h>

#include <oleacc.h>

#include <mutex>
#include <set>

using namespace testenv;

namespace {

std::string Describe(const AccessibleView::Control& control)
{
    char className[64] = {};
    GetClassNameA(control.hWnd, className, sizeof(className));
    return std::string(className) + " " + std::to_string(static_cast<short>(GetDlgCtrlID(control.hWnd))) + " (" +
           AccessibleView::RoleText(control.role) + ") \"" + control.name + "\"";
}

HWND FocusOf(DWORD threadId)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
}

void Press(HWND target, UINT virtualKey)
{
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target, WM_KEYUP, virtualKey, 0xC0000001);
}

bool IsTabStop(HWND control)
{
    return IsWindowVisible(control) && IsWindowEnabled(control) && (GetWindowLongA(control, GWL_STYLE) & WS_TABSTOP);
}

// Whether a comes before b when reading: the row above first, then left to right.
bool ReadBefore(const RECT& a, const RECT& b)
{
    const LONG aMiddle = (a.top + a.bottom) / 2;
    const LONG bMiddle = (b.top + b.bottom) / 2;
    if (aMiddle < b.top || bMiddle > a.bottom)
        return aMiddle < bMiddle;
    return a.left < b.left;
}

// The window's default push button, when it is there to be pressed.
HWND DefaultButton(HWND window)
{
    const LRESULT answer = SendMessageA(window, DM_GETDEFID, 0, 0);
    if (HIWORD(answer) != DC_HASDEFID)
        return nullptr;
    HWND button = GetDlgItem(window, LOWORD(answer));
    return button && IsTabStop(button) ? button : nullptr;
}

// What a page must give a screen reader: a name for every control that
// needs one, seen by oleacc below the window.
void ExpectEveryControlNamed(HWND window)
{
    EXPECT_GT(AccessibleView::ChildCount(window), 0) << "oleacc sees no control";
    const std::vector<AccessibleView::Control> controls = AccessibleView::ControlsOf(window);
    EXPECT_FALSE(controls.empty());
    for (const AccessibleView::Control& control : controls) {
        EXPECT_NE(control.role, 0) << "no answer from oleacc: " << Describe(control);
        if (AccessibleView::NeedsName(control))
            EXPECT_FALSE(control.name.empty()) << "nothing to speak: " << Describe(control);
    }
}

// The first focus on the default action, as the thread and oleacc both say.
void ExpectFocusOnDefault(DWORD threadId, HWND expected)
{
    ASSERT_TRUE(WaitFor([&] { return FocusOf(threadId) == expected; }, 5000))
        << "focus on " << GetDlgCtrlID(FocusOf(threadId)) << ", expected " << GetDlgCtrlID(expected);
    AccessibleView::Control focused;
    ASSERT_TRUE(AccessibleView::Read(expected, focused));
    EXPECT_TRUE(focused.state & STATE_SYSTEM_FOCUSED) << Describe(focused);
    EXPECT_FALSE(focused.name.empty()) << Describe(focused);
    // Wine's oleacc answers "client" for every standard control; Windows'
    // names the button's role.
    if (focused.role != ROLE_SYSTEM_CLIENT)
        EXPECT_EQ(focused.role, ROLE_SYSTEM_PUSHBUTTON) << Describe(focused);
}

// Tab from the first focus round to it again: every tab stop once, in
// reading order from wherever the round starts.
void ExpectTabRound(HWND window, DWORD threadId)
{
    std::set<HWND> stops;
    for (const AccessibleView::Control& control : AccessibleView::ControlsOf(window))
        if (IsTabStop(control.hWnd))
            stops.insert(control.hWnd);
    const HWND start = FocusOf(threadId);
    std::vector<HWND> round = {start};
    for (size_t step = 0; step <= stops.size(); ++step) {
        HWND before = round.back();
        Press(before, VK_TAB);
        HWND now = nullptr;
        // One stop alone keeps the focus where it is.
        WaitFor([&] { return (now = FocusOf(threadId)) != before; }, stops.size() > 1 ? 3000 : 300);
        if (now == start)
            break;
        round.push_back(now);
    }
    EXPECT_EQ(std::set<HWND>(round.begin(), round.end()), stops) << "Tab reaches " << round.size() << " of "
                                                                 << stops.size() << " controls";
    int wraps = 0;
    for (size_t i = 0; i < round.size(); ++i) {
        RECT a, b;
        GetWindowRect(round[i], &a);
        GetWindowRect(round[(i + 1) % round.size()], &b);
        if (round.size() > 1 && !ReadBefore(a, b))
            ++wraps;
    }
    EXPECT_LE(wraps, 1) << "Tab jumps back and forth";
}

// A window waiting for the user: named, focused on its action, Tab all round.
void ExpectReadable(HWND window, DWORD threadId)
{
    ExpectEveryControlNamed(window);
    HWND action = DefaultButton(window);
    ASSERT_NE(action, nullptr) << "no default action";
    ExpectFocusOnDefault(threadId, action);
    ExpectTabRound(window, threadId);
}

// The controls for which EVENT_OBJECT_NAMECHANGE was raised while their
// window showed.
class NameChanges {
public:
    NameChanges()
    {
        s_self = this;
        // In context, so each event is seen on the raising thread as it is raised.
        m_hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, GetModuleHandleA(nullptr),
                                 &NameChanges::Seen, GetCurrentProcessId(), 0, WINEVENT_INCONTEXT);
    }
    ~NameChanges()
    {
        UnhookWinEvent(m_hook);
        s_self = nullptr;
    }
    bool Hooked() const { return m_hook != nullptr; }
    bool Announced(HWND control)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_announced.count(control) != 0;
    }

private:
    static void CALLBACK Seen(HWINEVENTHOOK, DWORD, HWND hWnd, LONG object, LONG child, DWORD, DWORD)
    {
        NameChanges* self = s_self;
        if (!self || object != OBJID_CLIENT || child != CHILDID_SELF || !IsWindowVisible(GetParent(hWnd)))
            return;
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_announced.insert(hWnd);
    }

    static NameChanges* s_self;
    HWINEVENTHOOK m_hook = nullptr;
    std::mutex m_mutex;
    std::set<HWND> m_announced;
};
NameChanges* NameChanges::s_self = nullptr;

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(Accessibility, ToolDialog)
{
    const std::string temp = FreshDir("a11y-temp");
    SetEnvironmentVariableA("TEMP", temp.c_str());
    Program tool("\"" + BinDir() + "\\CellivantaVKTools.exe\"");
    ASSERT_TRUE(tool.Started());
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (dialog = DialogOfThread(tool.ThreadId())) && IsWindowVisible(dialog); }));
    ExpectReadable(dialog, tool.ThreadId());
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    DWORD exitCode = 0;
    EXPECT_TRUE(tool.Wait(20000, exitCode));
    RemoveTree(temp);
}

// The progress page while the installation runs, then the outcome page: its
// text reachable, announced once the page shows, Finish focused.
TEST_F(Accessibility, UsbDriverInstallerWindow)
{
    CDriverPackageInstaller::Result result;
    result.outcome = CDriverPackageInstaller::Outcome::Installed;
    const std::string outcome = FakePlatform::Utf8(CInstallerWindow::OutcomeText(result));
    HeldInstallation installation(result);
    DialogRunner window([&] { return installation.RunWindow(); });
    HWND progress = window.Window();
    ASSERT_NE(progress, nullptr);
    ExpectEveryControlNamed(progress);
    for (const AccessibleView::Control& control : AccessibleView::ControlsOf(progress))
        EXPECT_FALSE(IsTabStop(control.hWnd)) << "nothing to press while installing: " << Describe(control);

    NameChanges changes;
    ASSERT_TRUE(changes.Hooked());
    HWND page = nullptr;
    installation.Release();
    ASSERT_TRUE(WaitFor([&] { return (page = DialogOfThread(window.ThreadId())) && page != progress; }));
    EXPECT_TRUE(WaitFor([&] { return changes.Announced(GetDlgItem(page, 0xFFFF)); }, 5000))
        << "the outcome was not announced";
    ExpectReadable(page, window.ThreadId());
    bool reachable = false;
    for (const AccessibleView::Control& control : AccessibleView::ControlsOf(page))
        reachable |= control.name == outcome;
    EXPECT_TRUE(reachable) << "the outcome is not among what oleacc reads: " << outcome;
    Press(FocusOf(window.ThreadId()), VK_RETURN);
    EXPECT_TRUE(window.WaitClosed());
}

// The setup's current page: the visible dialog inside its window.
HWND VisiblePage(HWND window)
{
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = {};
        GetClassNameA(child, className, sizeof(className));
        if (IsWindowVisible(child) && lstrcmpA(className, "#32770") == 0)
            return child;
    }
    return nullptr;
}

// JAWS records its folder in the 64-bit view, also for 32-bit readers.
void SetJawsFolder(const std::string& folder)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0", 0, nullptr,
                              0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Target", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
}

// Setup.exe as the tool starts it, page after page: each page read as it
// comes, those that wait for the user worked with Tab and left with Enter,
// every text whole. The stand-in PC emulator makes the setup pause a second
// on its progress page, which is read meanwhile. The setup's font is its
// pages' own (8-point MS Shell Dlg at the checked DPI): its handle belongs to
// the setup's process.
TEST_F(Accessibility, EverySetupPage)
{
    SetProcessDPIAware();
    HFONT font = CreateFontA(-MulDiv(8, CheckedDpi(), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Shell Dlg");
    const std::string folder = FreshDir("a11y-jaws");
    SetJawsFolder(folder);
    PcEmulatorWindow emulator;
    Program setup("\"" + BinDir() + "\\Setup.exe\"");
    ASSERT_TRUE(setup.Started());
    const DWORD thread = setup.ThreadId();
    HWND last = nullptr;
    int pages = 0;
    int waiting = 0;
    DWORD exitCode = STILL_ACTIVE;
    for (;;) {
        HWND window = nullptr;
        HWND page = nullptr;
        WaitFor([&] {
            window = DialogOfThread(thread);
            page = window ? VisiblePage(window) : nullptr;
            return (page && page != last) || setup.Wait(0, exitCode);
        }, 30000);
        if (!page || page == last)
            break;
        last = page;
        SCOPED_TRACE("page " + std::to_string(++pages) + " at " + std::to_string(CheckedDpi()) + " DPI");
        ExpectEveryControlNamed(window);
        EXPECT_EQ(TextsThatDoNotFit(page, font), std::vector<std::string>{});
        EXPECT_EQ(TextsThatDoNotFit(window, font), std::vector<std::string>{});
        if (!DefaultButton(window))
            continue;  // working: nothing to press yet
        ++waiting;
        ExpectReadable(window, thread);
        Press(FocusOf(thread), VK_RETURN);
    }
    EXPECT_TRUE(setup.Wait(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_GE(pages, 3) << "the first page, the progress and the last page";
    EXPECT_GE(waiting, 2);
    EXPECT_TRUE(FileExists(folder + "\\VK.JLB"));
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0", KEY_WOW64_64KEY, 0);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CellivantaVK");
    RemoveTree(folder);
    DeleteObject(font);
}

// With large text: Windows stretches the window of a program that does not
// declare itself DPI-aware (blurred); Wine scales every program, so the
// declaration is read where Windows reads it. The pages are then read again
// at 192 DPI.
TEST_F(Accessibility, SetupAtLargeText)
{
    if (CheckedDpi() != USER_DEFAULT_SCREEN_DPI)
        GTEST_SKIP() << "run by the check at the usual setting";
    HMODULE setup = LoadLibraryExA((BinDir() + "\\Setup.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(setup, nullptr);
    HRSRC resource = FindResourceA(setup, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_NE(resource, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(setup, resource))),
                               SizeofResource(setup, resource));
    FreeLibrary(setup);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos) << manifest;
    std::string output;
    EXPECT_EQ(RunAtDpi(192, "Accessibility.EverySetupPage", output), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
