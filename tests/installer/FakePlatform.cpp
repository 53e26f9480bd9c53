#include "FakePlatform.h"
#include "InstallerPlatform.h"

#include <cstring>
#include <mutex>

namespace {

// Plain function pointers cannot carry state: the stand-ins share these.
std::mutex g_mutex;
std::string g_tempPath;
DWORD g_tempPathResult = 0;
bool g_tempPathFails = false;
FakePlatform::Bitness g_bitness = FakePlatform::Bitness::Real;
std::vector<FakePlatform::Launch> g_launches;
std::vector<std::string> g_cleanUp;
InstallerPlatform g_saved;

HINSTANCE WINAPI RecordLaunch(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT show)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_launches.push_back({file ? file : "(null)", parameters ? parameters : "(null)", owner != nullptr,
                          verb != nullptr, directory != nullptr, show});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));  // above 32: success
}

DWORD WINAPI FakeTempPath(DWORD length, LPSTR buffer)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_tempPathFails)
        return g_tempPathResult;
    lstrcpynA(buffer, g_tempPath.c_str(), static_cast<int>(length));
    return static_cast<DWORD>(g_tempPath.size());
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

BOOL WINAPI RecordDelete(LPCSTR path)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_cleanUp.push_back(std::string("delete ") + path);
    }
    return g_saved.deleteFile(path);
}

BOOL WINAPI RecordRemoveDirectory(LPCSTR path)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_cleanUp.push_back(std::string("rmdir ") + path);
    }
    return g_saved.removeDirectory(path);
}

}  // namespace

FakePlatform::FakePlatform()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_saved = Platform();
    g_tempPath.clear();
    g_tempPathFails = false;
    g_bitness = Bitness::Real;
    g_launches.clear();
    g_cleanUp.clear();
    Platform().shellExecute = RecordLaunch;
    Platform().getTempPath = FakeTempPath;
    Platform().getProcAddress = FakeGetProcAddress;
    Platform().deleteFile = RecordDelete;
    Platform().removeDirectory = RecordRemoveDirectory;
}

FakePlatform::~FakePlatform()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Platform() = g_saved;
}

void FakePlatform::SetTempPath(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tempPath = path;
    g_tempPathFails = false;
}

void FakePlatform::FailTempPath(DWORD result)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_tempPathFails = true;
    g_tempPathResult = result;
}

void FakePlatform::SetBitness(Bitness bitness)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_bitness = bitness;
}

std::vector<FakePlatform::Launch> FakePlatform::Launches() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_launches;
}

std::vector<std::string> FakePlatform::CleanUp() const
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_cleanUp;
}
