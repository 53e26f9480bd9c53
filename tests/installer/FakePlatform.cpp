#include "FakePlatform.h"
#include "CWorkFolder.h"
#include "HeldFiles.h"
#include "InstallerPlatform.h"

#include <cstring>
#include <mutex>

namespace {

// Plain function pointers cannot carry state: the stand-ins share these.
std::mutex g_mutex;
std::wstring g_tempPath;
DWORD g_tempPathResult = 0;
bool g_tempPathFails = false;
bool g_countRandom = false;
unsigned char g_randomCount = 0;
FakePlatform::Bitness g_bitness = FakePlatform::Bitness::Real;
DWORD g_launchError = ERROR_SUCCESS;
bool g_safeDllSearch = true;
std::wstring g_interfered;  // "\name" of the payload file, empty when none
FakePlatform::Interference g_interference = FakePlatform::Interference::Holds;
HANDLE g_holder = INVALID_HANDLE_VALUE;
HANDLE g_failingRead = nullptr;
std::vector<FakePlatform::Launch> g_launches;
std::vector<FakePlatform::Message> g_messages;
std::vector<std::string> g_cleanUp;
InstallerPlatform g_saved;
HeldFileCalls g_savedFileCalls;

std::string Text(LPCWSTR text)
{
    return text ? FakePlatform::Utf8(text) : "(null)";
}

bool Writable(LPCWSTR file)
{
    HANDLE writer = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (writer == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(writer);
    return true;
}

BOOL WINAPI RecordLaunch(SHELLEXECUTEINFOW* info)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_launches.push_back({Text(info->lpFile), Text(info->lpParameters), info->hwnd, info->lpVerb != nullptr,
                          info->lpDirectory != nullptr, info->nShow, Writable(info->lpFile), true});
    if (g_launchError != ERROR_SUCCESS) {
        SetLastError(g_launchError);
        return FALSE;
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));  // above 32: success
    return TRUE;
}

BOOL WINAPI RecordCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                                LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR directory, LPSTARTUPINFOW,
                                LPPROCESS_INFORMATION process)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_launches.push_back({Text(application), Text(commandLine), nullptr, false, directory != nullptr, SW_SHOW,
                          Writable(application), false});
    if (g_launchError != ERROR_SUCCESS) {
        SetLastError(g_launchError);
        return FALSE;
    }
    *process = {};
    return TRUE;
}

bool g_elevated = false;
bool FakeIsElevated()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_elevated;
}

int WINAPI RecordMessage(HWND owner, LPCWSTR text, LPCWSTR caption, UINT)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_messages.push_back({owner, Text(text), Text(caption)});
    return IDOK;
}

DWORD WINAPI FakeTempPath(DWORD length, LPWSTR buffer)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_tempPathFails)
        return g_tempPathResult;
    lstrcpynW(buffer, g_tempPath.c_str(), static_cast<int>(length));
    return static_cast<DWORD>(g_tempPath.size());
}

BOOLEAN WINAPI FakeRandom(PVOID buffer, ULONG length)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_countRandom)
        return g_saved.genRandom(buffer, length);
    memset(buffer, g_randomCount++, length);
    return TRUE;
}

BOOL WINAPI Wow64True(HANDLE, PBOOL flag)
{
    *flag = TRUE;
    return TRUE;
}

BOOL WINAPI Wow64False(HANDLE, PBOOL flag)
{
    *flag = FALSE;
    return TRUE;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    if (HIWORD(name) != 0 && strcmp(name, "SetDefaultDllDirectories") == 0) {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_safeDllSearch)
            return nullptr;
    }
    if (HIWORD(name) == 0 || strcmp(name, "IsWow64Process") != 0)
        return g_saved.getProcAddress(module, name);
    FakePlatform::Bitness bitness;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        bitness = g_bitness;
    }
    switch (bitness) {
    case FakePlatform::Bitness::Absent:
        return nullptr;
    case FakePlatform::Bitness::Is32:
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Wow64False));
    case FakePlatform::Bitness::Is64:
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(Wow64True));
    default:
        return g_saved.getProcAddress(module, name);
    }
}

bool EndsWith(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void ChangeFirstByte(LPCWSTR path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD done = 0;
    WriteFile(file, "?", 1, &done, nullptr);  // no payload begins with it
    CloseHandle(file);
}

HANDLE WINAPI InterferingReopen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE model)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const bool interfere = !g_interfered.empty() && EndsWith(path, g_interfered);
    if (interfere)
        g_interfered.clear();
    if (interfere && g_interference == FakePlatform::Interference::Holds)
        g_holder = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (interfere && g_interference == FakePlatform::Interference::Changes)
        ChangeFirstByte(path);
    HANDLE file = g_savedFileCalls.createFile(path, access, share, security, disposition, flags, model);
    if (interfere && g_interference == FakePlatform::Interference::ReadFails)
        g_failingRead = file;
    return file;
}

BOOL WINAPI InterferingRead(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (file == g_failingRead) {
            g_failingRead = nullptr;
            SetLastError(ERROR_READ_FAULT);
            return FALSE;
        }
    }
    return g_savedFileCalls.readFile(file, buffer, size, read, overlapped);
}

BOOL WINAPI RecordDelete(LPCWSTR path)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_cleanUp.push_back("delete " + Text(path));
    }
    return g_saved.deleteFile(path);
}

// Deleting through a handle: recorded by where the handle leads.
BOOL WINAPI RecordSetFileInformation(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS what, LPVOID info, DWORD size)
{
    wchar_t path[MAX_PATH * 2] = {};
    BY_HANDLE_FILE_INFORMATION about = {};
    if (what == FileDispositionInfo && GetFinalPathNameByHandleW(handle, path, MAX_PATH * 2, VOLUME_NAME_DOS) &&
        GetFileInformationByHandle(handle, &about)) {
        const std::wstring shown = wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
        std::lock_guard<std::mutex> lock(g_mutex);
        g_cleanUp.push_back(((about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "rmdir " : "delete ") + Text(shown.c_str()));
    }
    return g_saved.setFileInformation(handle, what, info, size);
}

}  // namespace

FakePlatform::FakePlatform()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_saved = Platform();
    g_tempPath.clear();
    g_tempPathFails = false;
    g_countRandom = false;
    g_bitness = Bitness::Real;
    g_launchError = ERROR_SUCCESS;
    g_safeDllSearch = true;
    g_interfered.clear();
    g_failingRead = nullptr;
    g_launches.clear();
    g_messages.clear();
    g_cleanUp.clear();
    Platform().shellExecuteEx = RecordLaunch;
    Platform().createProcess = RecordCreateProcess;
    Platform().isElevated = FakeIsElevated;
    g_elevated = false;
    Platform().getTempPath = FakeTempPath;
    Platform().genRandom = FakeRandom;
    Platform().getProcAddress = FakeGetProcAddress;
    Platform().deleteFile = RecordDelete;
    Platform().setFileInformation = RecordSetFileInformation;
    Platform().messageBox = RecordMessage;
    g_savedFileCalls = HeldFilePlatform();
    HeldFilePlatform().createFile = InterferingReopen;
    HeldFilePlatform().readFile = InterferingRead;
}

FakePlatform::~FakePlatform()
{
    LetGo();
    std::lock_guard<std::mutex> lock(g_mutex);
    Platform() = g_saved;
    HeldFilePlatform() = g_savedFileCalls;
}

void FakePlatform::SetTempPath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tempPath = Wide(path);
    g_tempPathFails = false;
}

void FakePlatform::FailTempPath(DWORD result)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tempPathFails = true;
    g_tempPathResult = result;
}

void FakePlatform::CountRandom()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_countRandom = true;
    g_randomCount = 0;
}

void FakePlatform::SetBitness(Bitness bitness)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_bitness = bitness;
}

void FakePlatform::FailLaunches(DWORD error)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_launchError = error;
}

void FakePlatform::SetElevated(bool elevated)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_elevated = elevated;
}

void FakePlatform::SetSafeDllSearch(bool present)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_safeDllSearch = present;
}

void FakePlatform::InterfereWith(const std::string& name, Interference what)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_interfered = L"\\" + Wide(name);
    g_interference = what;
}

void FakePlatform::LetGo()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_holder != INVALID_HANDLE_VALUE)
        CloseHandle(g_holder);
    g_holder = INVALID_HANDLE_VALUE;
}

std::vector<FakePlatform::Launch> FakePlatform::Launches() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_launches;
}

std::vector<FakePlatform::Message> FakePlatform::Messages() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_messages;
}

std::vector<std::string> FakePlatform::CleanUp() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_cleanUp;
}

std::string FakePlatform::Utf8(const std::wstring& text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string utf8(length, '\0');
    if (length)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], length, nullptr,
                            nullptr);
    return utf8;
}

std::wstring FakePlatform::Wide(const std::string& utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(length, L'\0');
    if (length)
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), static_cast<int>(utf8.size()), &text[0], length);
    return text;
}

std::string FakePlatform::WorkFolderIn(const std::string& temp)
{
    const std::wstring folder = Wide(temp);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\" + CWorkFolder::kNamePrefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return std::string();
    std::wstring name;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            name = name.empty() ? found.cFileName : L"(more than one)";
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return name.empty() ? std::string() : temp + "\\" + Utf8(name);
}
