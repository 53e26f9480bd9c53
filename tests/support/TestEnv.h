// What every test shares, in both trees and without the driver: the build's
// folders as Wine sees them, scratch folders and files, one wait-until, the
// message pump, programs and their message boxes, a stopwatch, the process's
// private bytes and a stand-in for the PC emulator's window.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testenv {

// A host path as Wine sees it (Z:\...).
std::string WinPath(const std::string& unixPath);
// The source tree, the folder of the running test (the bin folder of its
// tree) and the 64-bit tree's bin folder: in the build as the test
// registration names them; in the test bundle (each tree's programs in a
// folder of their own beside run-tests.cmd), its source and x86_64 folders.
std::string SourceDir();
std::string BinDir();
std::string Bin64Dir();
// The test bundle's folder; empty for a program run from the build.
std::string BundleDir();

// Whether the user's settings are French: as the test registration names
// them (VKTEST_LANGUAGE, then also checked against the process's settings by
// the caller), or, where none is named, as the machine has them.
bool NamedLanguage(std::string& language);
bool FrenchUser();

// Why this run lacks the links that the build's run makes in the prefix's C:
// drive (C:\vktest-link and the others, tests/installer/CMakeLists.txt);
// empty when they are there.
std::string WhyNoLinks();

// Skips the test, saying why, when why is not empty.
#define VK_SKIP_IF(why)                     \
    do {                                    \
        const std::string vkWhy_ = (why);   \
        if (!vkWhy_.empty())                \
            GTEST_SKIP() << vkWhy_;         \
    } while (0)

// A fresh empty folder for one test's files (any old one of the same name is
// removed first).
std::string FreshDir(const std::string& name);
void RemoveTree(const std::string& folder);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

// Waits until pred() holds or the time is up, with pause(ms) between looks;
// returns pred(). Without a pause it sleeps.
template <typename Pred, typename Pause>
bool WaitFor(Pred pred, DWORD timeoutMs, Pause pause)
{
    const DWORD end = GetTickCount() + timeoutMs;
    while (!pred()) {
        if (static_cast<LONG>(end - GetTickCount()) <= 0)
            return pred();
        pause(10);
    }
    return true;
}

template <typename Pred>
bool WaitFor(Pred pred, DWORD timeoutMs = 10000)
{
    return WaitFor(pred, timeoutMs, [](DWORD ms) { ::Sleep(ms); });
}

// Sleeps until dueMs after start (a GetTickCount), so that a sender keeps
// to its schedule without catching up.
void SleepUntil(DWORD start, DWORD dueMs);

// Runs the calling thread's message loop for a while (the driver's key
// callbacks arrive through it, as in the screen reader); observe, when
// given, sees each message before it is dispatched.
void PumpMessages(unsigned long milliseconds, const std::function<void(const MSG&)>& observe = {});

// WaitFor that pumps this thread's messages meanwhile.
template <typename Pred>
bool PumpUntil(Pred pred, unsigned long timeoutMs)
{
    return WaitFor(pred, timeoutMs, [](DWORD ms) { PumpMessages(ms); });
}

// Runs a program of the build and waits for it; returns its exit code (-1 when
// it could not start, -2 when it did not end in time) with what it printed to
// its standard output and error, line ends as "\n".
int RunProgram(const std::string& commandLine, std::string& output, unsigned long timeoutMs = 30000);

// A program started and left running; stopped when dropped if it still runs.
class Program {
public:
    explicit Program(const std::string& commandLine);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_process.hProcess != nullptr; }
    DWORD ProcessId() const { return m_process.dwProcessId; }
    DWORD ThreadId() const { return m_process.dwThreadId; }
    // Waits for its end: true if it ended in time. exitCode is its exit code
    // (STILL_ACTIVE while it runs).
    bool Wait(DWORD timeoutMs, DWORD& exitCode);

private:
    PROCESS_INFORMATION m_process = {};
};

// Starts a program, waits for it and returns its exit code (-1 when it could
// not be started, -2 when it did not end in time and was stopped).
int RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000);

// The version resource of a file (empty when it has none), its fixed part
// and one of its strings ("(missing)" when absent) for a language and code
// page such as "040904b0".
std::vector<BYTE> VersionBlock(const std::string& path);
VS_FIXEDFILEINFO* FixedVersion(std::vector<BYTE>& block);
std::string VersionString(const std::vector<BYTE>& block, const std::string& languageCodePage, const char* name);

// The dialog (or message box) of a thread, null when it has none.
HWND DialogOfThread(DWORD threadId);
// Waits for a message box of the given thread to show its text; returns the
// box (null when none came) with its text in text.
HWND WaitForMessageBox(DWORD threadId, std::string& text, DWORD timeoutMs = 20000);

class Stopwatch {
public:
    Stopwatch();
    double Ms() const;
    double Us() const { return Ms() * 1000.0; }

private:
    LARGE_INTEGER m_frequency, m_start;
};

// The process's committed private memory.
SIZE_T PrivateBytes();

// A stand-in for the PC emulator: a top-level window ("PDIHooks" by default)
// of its own thread. The thread pumps messages only once Pump() is called (at
// once when pumpNow), so a caller that waited for the window would hang.
// onClose runs on that thread when WM_CLOSE comes.
class PcEmulatorWindow {
public:
    explicit PcEmulatorWindow(bool pumpNow = true, const char* className = "PDIHooks", const char* title = "PDIHooks",
                              std::function<void()> onClose = {});
    ~PcEmulatorWindow();
    PcEmulatorWindow(const PcEmulatorWindow&) = delete;
    PcEmulatorWindow& operator=(const PcEmulatorWindow&) = delete;

    void Pump() { SetEvent(m_hPump); }
    // True once a plain WM_CLOSE (no parameters) arrived.
    bool Closed(DWORD timeoutMs) const { return WaitForSingleObject(m_hClosed, timeoutMs) == WAIT_OBJECT_0; }

private:
    static LRESULT CALLBACK WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void Run(const std::string& className, const std::string& title);

    HANDLE m_hReady;
    HANDLE m_hPump;
    HANDLE m_hClosed;
    HWND m_hWnd = nullptr;
    std::function<void()> m_onClose;
    std::thread m_thread;
};

}  // namespace testenv
