#include "TextBuffer.h"

#include <cstring>
#include <cwchar>

namespace {

template <typename Char>
bool CopyWhole(Char* szBuffer, std::size_t cchBuffer, const Char* szText, std::size_t cchText)
{
    if (cchText + 1 > cchBuffer)
        return false;
    std::memcpy(szBuffer, szText, (cchText + 1) * sizeof(Char));
    return true;
}

}  // namespace

bool CopyText(char* szBuffer, std::size_t cbBuffer, const char* szText)
{
    return CopyWhole(szBuffer, cbBuffer, szText, std::strlen(szText));
}

bool CopyText(wchar_t* szBuffer, std::size_t cchBuffer, const wchar_t* szText)
{
    return CopyWhole(szBuffer, cchBuffer, szText, std::wcslen(szText));
}
