#include "TextBuffer.h"

#include <cstring>

bool CopyText(char* szBuffer, std::size_t cbBuffer, const char* szText)
{
    std::size_t cbText = std::strlen(szText) + 1;
    if (cbText > cbBuffer)
        return false;
    std::memcpy(szBuffer, szText, cbText);
    return true;
}
