// Environment variables as the system defines them for every user, without
// this process's own (which, for an elevated setup, are the user's).
#pragma once

#include <string>

// Replaces each %NAME% in szText by the system's value of NAME. False when a
// name is one the system does not define, or its variables cannot be had.
bool ExpandWithSystemVariables(const wchar_t* szText, std::wstring& expanded);
