#include "TestEnv.h"

#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace testenv {

namespace {

std::string Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

BOOL CALLBACK TakeDialog(HWND hWnd, LPARAM lParam)
{
    char className[16] = {};
    GetClassNameA(hWnd, className, sizeof(className));
    if (lstrcmpA(className, "#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

}  // namespace

std::string WinPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

namespace {

std::string ProgramDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\'));
}

// The folder named by the variable, else the bundle's subfolder.
std::string NamedOrBundled(const char* variable, const char* subfolder)
{
    const std::string named = Env(variable);
    if (!named.empty() || BundleDir().empty())
        return WinPath(named);
    return BundleDir() + "\\" + subfolder;
}

}  // namespace

std::string BundleDir()
{
    const std::string dir = ProgramDir();
    const std::string parent = dir.substr(0, dir.find_last_of('\\'));
    return FileExists(parent + "\\run-tests.cmd") ? parent : "";
}

std::string SourceDir() { return NamedOrBundled("VKTEST_SOURCE_DIR", "source"); }
std::string Bin64Dir() { return NamedOrBundled("VKTEST_BIN64_DIR", "x86_64"); }

// The tests' own folder unless the run names another (the signed-release
// test points the installer tests at a release's files).
std::string BinDir()
{
    const std::string named = Env("VKTEST_BIN_DIR");
    return named.empty() ? ProgramDir() : WinPath(named);
}

bool NamedLanguage(std::string& language)
{
    language = Env("VKTEST_LANGUAGE");
    return !language.empty();
}

bool FrenchUser()
{
    std::string language;
    if (NamedLanguage(language))
        return language == "fr";
    return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_FRENCH;
}

std::string WhyNoLinks()
{
    if (GetFileAttributesA("C:\\vktest-link") != INVALID_FILE_ATTRIBUTES)
        return "";
    return "needs the links in C:\\ that the build's Wine run makes from Linux (C:\\vktest-link and others)";
}

void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string FreshDir(const std::string& name)
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string dir = std::string(base) + "vktest-" + name;
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void SleepUntil(DWORD start, DWORD dueMs)
{
    const LONG ahead = static_cast<LONG>(dueMs) - static_cast<LONG>(GetTickCount() - start);
    if (ahead > 0)
        ::Sleep(static_cast<DWORD>(ahead));
}

// The time is checked after every message: a flood that comes faster than
// it is handled must not keep the caller here for ever.
void PumpMessages(unsigned long milliseconds, const std::function<void(const MSG&)>& observe)
{
    const DWORD end = GetTickCount() + milliseconds;
    for (;;) {
        MSG msg;
        // A flood of messages must not keep the caller here past its time.
        while (static_cast<LONG>(end - GetTickCount()) > 0 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (observe)
                observe(msg);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (static_cast<LONG>(end - GetTickCount()) <= 0)
                return;
        }
        const LONG left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}

// The program writes into a pipe that is drained while it runs, so that a
// long output cannot block it. Its end is not waited for: a program it starts
// can inherit the pipe and hold it open after it ended (Wine's desktop
// process, started by the first window of the prefix, does).
int RunProgram(const std::string& commandLine, std::string& output, unsigned long timeoutMs)
{
    output.clear();
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return -1;
    }
    // Read while the program runs, then what it left in the pipe; never wait
    // for the pipe's end: a process it started (Wine's desktop, started for
    // the first window of a session) may hold the pipe open for ever.
    std::string raw;
    const auto drain = [&] {
        char block[4096];
        DWORD available = 0, got = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available &&
               ReadFile(readEnd, block, std::min<DWORD>(available, sizeof(block)), &got, nullptr) && got)
            raw.append(block, got);
    };
    int exitCode = -2;
    const DWORD start = GetTickCount();
    DWORD waited;
    while ((waited = WaitForSingleObject(process.hProcess, 10)) == WAIT_TIMEOUT && GetTickCount() - start < timeoutMs)
        drain();
    if (waited == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        exitCode = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 5000);
    }
    drain();
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (char c : raw)
        if (c != '\r')
            output += c;
    return exitCode;
}

Program::Program(const std::string& commandLine)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &m_process))
        m_process = {};
}

Program::~Program()
{
    if (!Started())
        return;
    TerminateProcess(m_process.hProcess, 1);
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

bool Program::Wait(DWORD timeoutMs, DWORD& exitCode)
{
    exitCode = STILL_ACTIVE;
    if (!Started())
        return false;
    const bool ended = WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    GetExitCodeProcess(m_process.hProcess, &exitCode);
    return ended;
}

int RunProgram(const std::string& commandLine, DWORD timeoutMs)
{
    Program program(commandLine);
    if (!program.Started())
        return -1;
    DWORD exitCode = 0;
    return program.Wait(timeoutMs, exitCode) ? static_cast<int>(exitCode) : -2;
}

std::vector<BYTE> VersionBlock(const std::string& path)
{
    std::vector<BYTE> block(GetFileVersionInfoSizeA(path.c_str(), nullptr));
    if (!block.empty() && !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()))
        block.clear();
    return block;
}

VS_FIXEDFILEINFO* FixedVersion(std::vector<BYTE>& block)
{
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (block.empty() || !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length))
        return nullptr;
    return fixed;
}

std::string VersionString(const std::vector<BYTE>& block, const std::string& languageCodePage, const char* name)
{
    const std::string key = "\\StringFileInfo\\" + languageCodePage + "\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (block.empty() || !VerQueryValueA(block.data(), key.c_str(), &value, &length) || length == 0)
        return "(missing)";
    return static_cast<const char*>(value);
}

HWND DialogOfThread(DWORD threadId)
{
    HWND found = nullptr;
    if (threadId != 0)
        EnumThreadWindows(threadId, TakeDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The box is found as soon as it exists; its text comes a moment later.
HWND WaitForMessageBox(DWORD threadId, std::string& text, DWORD timeoutMs)
{
    HWND box = nullptr;
    char buffer[1024] = {};
    WaitFor([&] {
        box = DialogOfThread(threadId);
        return box && GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer)) > 0;
    }, timeoutMs);
    text = buffer;
    return box;
}

Stopwatch::Stopwatch()
{
    QueryPerformanceFrequency(&m_frequency);
    QueryPerformanceCounter(&m_start);
}

double Stopwatch::Ms() const
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - m_start.QuadPart) / static_cast<double>(m_frequency.QuadPart);
}

SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    // Wine leaves PrivateUsage at 0; PagefileUsage is the same commit charge on Windows.
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

PcEmulatorWindow::PcEmulatorWindow(bool pumpNow, const char* className, const char* title,
                                   std::function<void()> onClose)
    : m_hReady(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hPump(CreateEventA(nullptr, TRUE, pumpNow, nullptr)),
      m_hClosed(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_onClose(std::move(onClose))
{
    m_thread = std::thread([this, c = std::string(className), t = std::string(title)] { Run(c, t); });
    WaitForSingleObject(m_hReady, 10000);
}

PcEmulatorWindow::~PcEmulatorWindow()
{
    Pump();
    if (m_hWnd)
        PostMessageA(m_hWnd, WM_USER, 0, 0);  // ends the loop if it is still open
    m_thread.join();
    CloseHandle(m_hReady);
    CloseHandle(m_hPump);
    CloseHandle(m_hClosed);
}

LRESULT CALLBACK PcEmulatorWindow::WndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<PcEmulatorWindow*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (uMsg == WM_CLOSE && self) {
        if (self->m_onClose)
            self->m_onClose();
        if (wParam == 0 && lParam == 0)
            SetEvent(self->m_hClosed);
    }
    if (uMsg == WM_CLOSE || uMsg == WM_USER) {
        DestroyWindow(hWnd);
        return 0;
    }
    if (uMsg == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

void PcEmulatorWindow::Run(const std::string& className, const std::string& title)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className.c_str();
    RegisterClassA(&wc);
    m_hWnd = CreateWindowExA(0, className.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                             nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetEvent(m_hReady);
    WaitForSingleObject(m_hPump, INFINITE);
    MSG msg;
    while (m_hWnd && GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    UnregisterClassA(className.c_str(), wc.hInstance);
}

}  // namespace testenv
