#include "SystemEnvironment.h"
#include "SystemLibrary.h"

#include <windows.h>

namespace {

using CreateEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using DestroyEnvironmentBlockFn = BOOL(WINAPI*)(LPVOID);

// The system's variables, "NAME=value" one after the other; empty when they
// cannot be had. Without a user's token the block holds no user's variables.
std::wstring SystemBlock()
{
    HMODULE userenv = LoadSystemLibrary("userenv.dll");
    if (!userenv)
        return std::wstring();
    auto create = reinterpret_cast<CreateEnvironmentBlockFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(userenv, "CreateEnvironmentBlock")));
    auto destroy = reinterpret_cast<DestroyEnvironmentBlockFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(userenv, "DestroyEnvironmentBlock")));
    std::wstring block;
    void* environment = nullptr;
    if (create && destroy && create(&environment, nullptr, FALSE)) {
        const wchar_t* end = static_cast<const wchar_t*>(environment);
        while (*end)
            end += wcslen(end) + 1;
        block.assign(static_cast<const wchar_t*>(environment), end + 1);
        destroy(environment);
    }
    FreeLibrary(userenv);
    return block;
}

bool IsNamed(const std::wstring& name, const wchar_t* szName)
{
    return CompareStringOrdinal(name.c_str(), -1, szName, -1, TRUE) == CSTR_EQUAL;
}

// The Windows folder and its drive come from the system itself: some
// platforms build the block's SystemRoot from this process's own.
bool LookupSystemFolder(const std::wstring& name, std::wstring& value)
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length < 3 || length >= MAX_PATH)
        return false;
    if (IsNamed(name, L"SystemRoot") || IsNamed(name, L"windir"))
        value = windows;
    else if (IsNamed(name, L"SystemDrive"))
        value.assign(windows, 2);
    else
        return false;
    return true;
}

bool Lookup(const std::wstring& block, const std::wstring& name, std::wstring& value)
{
    if (LookupSystemFolder(name, value))
        return true;
    for (const wchar_t* entry = block.c_str(); *entry; entry += wcslen(entry) + 1) {
        const wchar_t* equals = wcschr(entry + 1, L'=');  // "=C:" entries begin with one
        if (equals && CompareStringOrdinal(entry, static_cast<int>(equals - entry), name.c_str(),
                                           static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
            value = equals + 1;
            return true;
        }
    }
    return false;
}

}  // namespace

bool ExpandWithSystemVariables(const wchar_t* szText, std::wstring& expanded)
{
    const std::wstring text = szText;
    const std::wstring block = SystemBlock();
    if (block.empty())
        return false;
    expanded.clear();
    std::wstring::size_type at = 0;
    for (std::wstring::size_type open; (open = text.find(L'%', at)) != std::wstring::npos;) {
        const std::wstring::size_type close = text.find(L'%', open + 1);
        if (close == std::wstring::npos)
            break;
        std::wstring value;
        if (!Lookup(block, text.substr(open + 1, close - open - 1), value))
            return false;
        expanded += text.substr(at, open - at) + value;
        at = close + 1;
    }
    expanded += text.substr(at);
    return true;
}
