// Runs the tool's dialog (CTessalineDlg::DoModal) on a thread of its own, as
// the program does on its main thread, and works it from the test through the
// dialog's own window messages: clicks, keys, mnemonics, Close.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

class DialogRunner {
public:
    // The dialog comes up in the language that the platform picks from the
    // user's settings (for Wine, the locale the test process was started with).
    DialogRunner();
    // Runs another modal window of the tools the same way (run shows it and
    // returns its result); Window() is the first dialog it shows.
    explicit DialogRunner(std::function<INT_PTR()> run);
    // Closes the dialog if it is still open and waits for the clean-up.
    ~DialogRunner();
    DialogRunner(const DialogRunner&) = delete;
    DialogRunner& operator=(const DialogRunner&) = delete;

    // The dialog window, once it is up (null if it never came).
    HWND Window() const { return m_hWnd; }
    HWND Item(int id) const;
    std::string Text(HWND hWnd) const;

    // A click on a button, as the button itself reports it (BM_CLICK).
    void Click(int id);
    // A key pressed and released where the keyboard focus is.
    void PressKey(UINT virtualKey);
    // Alt + letter.
    void PressMnemonic(char letter);
    // The system menu's Close (the title bar's close box, Alt+F4).
    void CloseFromSystemMenu();
    HWND Focus() const;
    // The thread that shows the dialog (for windows it shows later).
    DWORD ThreadId() const { return m_threadId; }

    // True once the dialog has ended and its object (with the clean-up) is gone.
    bool WaitClosed(DWORD timeoutMs = 10000);
    INT_PTR Result() const { return m_result; }

private:
    void Run();
    void WaitUntilUp();
    HWND FindDialogWindow() const;

    std::function<INT_PTR()> m_run;
    std::thread m_thread;
    std::atomic<DWORD> m_threadId;
    std::atomic<bool> m_finished;
    std::atomic<INT_PTR> m_result;
    HWND m_hWnd;
};
