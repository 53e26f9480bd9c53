#include "DialogRunner.h"
#include "CTessalineDlg.h"
#include "TestEnv.h"

using testenv::WaitFor;

DialogRunner::DialogRunner()
    : DialogRunner([] {
          CTessalineDlg dialog;
          return dialog.DoModal();
      })
{
}

DialogRunner::DialogRunner(std::function<INT_PTR()> run)
    : m_run(std::move(run)), m_threadId(0), m_finished(false), m_result(0), m_hWnd(nullptr)
{
    m_thread = std::thread(&DialogRunner::Run, this);
    WaitUntilUp();
}

void DialogRunner::WaitUntilUp()
{
    WaitFor([this] { return m_finished || FindDialogWindow() != nullptr; });
    m_hWnd = FindDialogWindow();
    // The first focus is set once WM_INITDIALOG has returned, and the dialog
    // is shown after that: only then is it up as the user meets it.
    WaitFor([this] { return m_finished || (Focus() != nullptr && IsWindowVisible(m_hWnd)); }, 5000);
}

DialogRunner::~DialogRunner()
{
    // Whichever of its dialogs the thread shows now is asked to close.
    WaitFor([this] {
        if (HWND hWnd = FindDialogWindow())
            PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return m_finished.load();
    }, 20000);
    m_thread.join();
}

void DialogRunner::Run()
{
    m_threadId = GetCurrentThreadId();
    m_result = m_run();  // the tool's dialog object, with its clean-up, is gone on return
    m_finished = true;
}

HWND DialogRunner::FindDialogWindow() const
{
    return testenv::DialogOfThread(m_threadId);
}

HWND DialogRunner::Item(int id) const
{
    return GetDlgItem(m_hWnd, id);
}

std::string DialogRunner::Text(HWND hWnd) const
{
    char text[512] = {};
    GetWindowTextA(hWnd, text, sizeof(text));
    return text;
}

void DialogRunner::Click(int id)
{
    SendMessageA(Item(id), BM_CLICK, 0, 0);
}

void DialogRunner::PressKey(UINT virtualKey)
{
    HWND target = Focus() ? Focus() : m_hWnd;
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target, WM_KEYUP, virtualKey, 0xC0000001);
}

void DialogRunner::PressMnemonic(char letter)
{
    HWND target = Focus() ? Focus() : m_hWnd;
    // Bit 29: the Alt key is down.
    PostMessageA(target, WM_SYSCHAR, static_cast<WPARAM>(letter), 0x20000001);
}

void DialogRunner::CloseFromSystemMenu()
{
    PostMessageA(m_hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
}

HWND DialogRunner::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!m_threadId || !GetGUIThreadInfo(m_threadId, &info))
        return nullptr;
    return info.hwndFocus;
}

bool DialogRunner::WaitClosed(DWORD timeoutMs)
{
    return WaitFor([this] { return m_finished.load(); }, timeoutMs);
}
