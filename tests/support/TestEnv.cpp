#include "TestEnv.h"
#include "trace/Trace.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <thread>

namespace testenv {

namespace {

std::string Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Asks the port manager of scripts/test-env.sh to run one request and waits for it.
void PortRequest(const std::string& request)
{
    const std::string ctl = WinPath(Env("VKTEST_PORTS_DIR") + "/ctl/");
    const std::string done = ctl + request + ".done";
    DeleteFileA(done.c_str());
    HANDLE h = CreateFileA((ctl + request + ".req").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot reach the port manager";
    CloseHandle(h);
    for (int i = 0; i < 500 && !FileExists(done); ++i)
        ::Sleep(10);
    ASSERT_TRUE(FileExists(done)) << request << " was not served";
    DeleteFileA(done.c_str());
}

std::mutex g_traceMutex;
std::vector<std::string> g_traceLines;

void CollectTrace(const char* line)
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceLines.emplace_back(line);
}

}  // namespace

std::string DriverPort(int n) { return "COM1" + std::to_string(n); }
std::string DisplayPort(int n) { return "COM2" + std::to_string(n); }

void UnplugPair(int n) { PortRequest("unplug-" + std::to_string(n)); }
void ReplugPair(int n) { PortRequest("replug-" + std::to_string(n)); }

std::string WinPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string BinDir()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\'));
}

std::string TempDir(const std::string& name)
{
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    std::string dir = std::string(base) + "vktest-" + name + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

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
        }
        const LONG left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    }
}

// The program writes into a pipe that a thread of ours drains, so that a
// long output cannot block it.
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
    std::string raw;
    std::thread drain([&] {
        char block[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, block, sizeof(block), &got, nullptr) && got)
            raw.append(block, got);
    });
    int exitCode = -2;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        exitCode = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    drain.join();
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (char c : raw)
        if (c != '\r')
            output += c;
    return exitCode;
}

IBrailleDriver* LoadDriver()
{
    HMODULE module = LoadLibraryA("VK.JLB");
    if (!module)
        return nullptr;
    auto getInterface =
        reinterpret_cast<PFN_GetBrailleInterface>(reinterpret_cast<void*>(GetProcAddress(module, "GetBrailleInterface")));
    if (!getInterface)
        return nullptr;
    IBrailleDriver* driver = nullptr;
    getInterface(&driver);
    return driver;
}

TraceCapture::TraceCapture()
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceLines.clear();
    SetTraceSink(CollectTrace);
}

TraceCapture::~TraceCapture()
{
    SetTraceSink(nullptr);
}

std::vector<std::string> TraceCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    return g_traceLines;
}

bool TraceCapture::Contains(const std::string& text) const
{
    for (const std::string& line : Lines())
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

}  // namespace testenv
