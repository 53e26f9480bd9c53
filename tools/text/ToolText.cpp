#include "ToolText.h"

#include <windows.h>

#include <io.h>

#include <vector>

namespace tooltext {
namespace {

const WORD kUsersLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);  // Windows picks, as LoadString does
const WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);
WORD g_language = kUsersLanguage;

std::wstring Wide(const std::string& text)
{
    for (UINT codePage : {CP_UTF8, CP_ACP}) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int n = MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
        if (n > 0 || text.empty()) {
            std::wstring wide(n, L'\0');
            MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), &wide[0], n);
            return wide;
        }
    }
    return std::wstring();
}

std::string Utf8(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], n, nullptr, nullptr);
    return utf8;
}

// A string table block holds 16 counted strings.
std::wstring TableString(unsigned id)
{
    HRSRC found = FindResourceExW(nullptr, reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(id / 16 + 1), g_language);
    HGLOBAL block = found ? LoadResource(nullptr, found) : nullptr;
    const WCHAR* p = block ? static_cast<const WCHAR*>(LockResource(block)) : nullptr;
    if (!p)
        return std::wstring();
    for (unsigned i = 0; i < id % 16; ++i)
        p += 1 + *p;
    return std::wstring(p + 1, *p);
}

}  // namespace

std::string Text(unsigned id, std::initializer_list<std::string> inserts)
{
    const std::wstring pattern = TableString(id);
    std::vector<std::wstring> wide;
    for (const std::string& insert : inserts)
        wide.push_back(Wide(insert));
    std::vector<DWORD_PTR> arguments(9, reinterpret_cast<DWORD_PTR>(L""));
    for (size_t i = 0; i < wide.size() && i < arguments.size(); ++i)
        arguments[i] = reinterpret_cast<DWORD_PTR>(wide[i].c_str());
    WCHAR* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                       FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                   pattern.c_str(), 0, 0, reinterpret_cast<WCHAR*>(&text), 0,
                                   reinterpret_cast<va_list*>(arguments.data()));
    const std::string result = n ? Utf8(std::wstring(text, n)) : std::string();
    if (text)
        LocalFree(text);
    return result;
}

void UseEnglish(bool english)
{
    g_language = english ? kEnglish : kUsersLanguage;
}

void Write(FILE* out, const std::string& text)
{
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    DWORD mode = 0, written = 0;
    if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode)) {
        fflush(out);
        const std::wstring wide = Wide(text);
        WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    fputs(text.c_str(), out);
}

void Line(FILE* out, const std::string& text)
{
    Write(out, text + "\n");
}

}  // namespace tooltext
