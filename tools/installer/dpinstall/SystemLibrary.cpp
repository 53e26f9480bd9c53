#include "SystemLibrary.h"

#include <string>

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Windows 7 has the call only with its loader update: look it up, so that the
// program still starts without it.
SetDefaultDllDirectoriesFn FindSetDefaultDllDirectories()
{
    return reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
}

// Wide: the Windows folder may have a name the ANSI code page cannot spell.
std::wstring SystemFolderPath(const char* name)
{
    wchar_t folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    std::wstring path = std::wstring(folder, length) + L"\\";
    for (const char* c = name; *c; ++c)
        path += static_cast<wchar_t>(*c);  // the names are plain ASCII
    return path;
}

}  // namespace

bool RestrictDllSearchToSystemFolder()
{
    SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories();
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return true;
    SetDllDirectoryA("");  // at least the current folder leaves the search
    return false;
}

bool IsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
                          elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

bool IsLocalSystem()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info = {};
    DWORD size = 0;
    const bool system = GetTokenInformation(token, TokenUser, &info, sizeof(info), &size) &&
                        IsWellKnownSid(info.user.User.Sid, WinLocalSystemSid);
    CloseHandle(token);
    return system;
}

void ShowRefusal(UINT textId)
{
    // A message box may load the theme DLLs; by name they would be looked for
    // in the program's folder first. Once loaded, a load by name finds them.
    for (const char* name : {"uxtheme.dll", "dwmapi.dll", "comctl32.dll"})
        LoadSystemLibrary(name);
    wchar_t text[1024] = {};
    LoadStringW(GetModuleHandleW(nullptr), textId, text, 1024);
    MessageBoxW(nullptr, text, nullptr, MB_OK | MB_ICONERROR);
}

HMODULE LoadSystemLibrary(const char* name)
{
    if (FindSetDefaultDllDirectories())
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the loader update the flag is refused: name the file by its full
    // path in the system folder instead.
    const std::wstring path = SystemFolderPath(name);
    return path.empty() ? nullptr : LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
