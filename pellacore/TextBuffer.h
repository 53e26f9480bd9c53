// Copies into buffers that the caller owns, sized in bytes with the terminator.
#pragma once

#include <cstddef>

// Copies szText whole into szBuffer when it fits with its terminator; otherwise
// writes nothing and returns false (a cut-off port or folder name is a wrong
// answer, not a shorter one).
bool CopyText(char* szBuffer, std::size_t cbBuffer, const char* szText);
// The same in wide characters, cchBuffer counted in characters.
bool CopyText(wchar_t* szBuffer, std::size_t cchBuffer, const wchar_t* szText);
