#include "InstallerTestEnv.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace installertest {

namespace {

std::string Env(const char* name)
{
    const char* value = getenv(name);
    return value ? value : "";
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

std::string SourceDir()
{
    return WinPath(Env("VKTEST_SOURCE_DIR"));
}

std::string BinDir()
{
    return WinPath(Env("VKTEST_BIN_DIR"));
}

std::string Bin64Dir()
{
    return WinPath(Env("VKTEST_BIN64_DIR"));
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

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

int RunProgram(const std::string& commandLine, DWORD timeoutMs)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    int exitCode = -2;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        exitCode = static_cast<int>(code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

namespace {

BOOL CALLBACK TakeMessageBox(HWND hWnd, LPARAM lParam)
{
    char className[16] = {};
    GetClassNameA(hWnd, className, sizeof(className));
    if (lstrcmpA(className, "#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

}  // namespace

// The box is found as soon as it exists; its text comes a moment later.
HWND WaitForMessageBox(DWORD threadId, std::string& text, DWORD timeoutMs)
{
    HWND box = nullptr;
    char buffer[1024] = {};
    WaitFor([&] {
        EnumThreadWindows(threadId, TakeMessageBox, reinterpret_cast<LPARAM>(&box));
        return box && GetDlgItemTextA(box, 0xFFFF, buffer, sizeof(buffer)) > 0;
    }, timeoutMs);
    text = buffer;
    return box;
}

PlantedDlls::PlantedDlls(const std::string& folder, const std::vector<std::string>& names, bool is64Bit)
    : m_folder(folder), m_names(names)
{
    const std::string source = (is64Bit ? Bin64Dir() : BinDir()) + "\\planted.dll";
    for (const std::string& name : names)
        CopyFileA(source.c_str(), (folder + "\\" + name).c_str(), FALSE);
}

// Tried in this process, which was started with the same settings as the
// programs it starts: a planted newdev.dll in a folder of the search path
// must be the one loaded. Run before any program of the test loads it.
bool PlantedDlls::WouldBeFound() const
{
    const std::string control = FreshDir("planted-control");
    PlantedDlls copy(control, {"newdev.dll"}, sizeof(void*) == 8);
    SetDllDirectoryA(control.c_str());
    HMODULE loaded = LoadLibraryA("newdev.dll");
    SetDllDirectoryA(nullptr);
    const bool found = !copy.Loaded().empty();
    if (loaded)
        FreeLibrary(loaded);
    RemoveTree(control);
    return found;
}

std::vector<std::string> PlantedDlls::Loaded() const
{
    std::vector<std::string> loaded;
    for (const std::string& name : m_names)
        if (FileExists(m_folder + "\\" + name + ".loaded"))
            loaded.push_back(name);
    return loaded;
}

}  // namespace installertest
