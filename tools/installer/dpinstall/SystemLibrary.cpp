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

std::string SystemFolderPath(const char* name)
{
    char folder[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::string();
    return std::string(folder, length) + "\\" + name;
}

}  // namespace

void RestrictDllSearchToSystemFolder()
{
    if (SetDefaultDllDirectoriesFn setDefault = FindSetDefaultDllDirectories())
        setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else
        SetDllDirectoryA("");  // at least the current folder leaves the search
}

HMODULE LoadSystemLibrary(const char* name)
{
    if (FindSetDefaultDllDirectories())
        return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without the loader update the flag is refused: name the file by its full
    // path in the system folder instead.
    const std::string path = SystemFolderPath(name);
    return path.empty() ? nullptr : LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
