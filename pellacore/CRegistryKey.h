// A key under HKEY_LOCAL_MACHINE opened for reading in the 64-bit view: the
// setup runs this library as a 32-bit program, but the keys it looks at are
// those of 64-bit Windows. The key is closed when the object goes.
#pragma once

#include <windows.h>

class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    bool Open(const char* szPath);
    void Close();

    // Name of subkey dwIndex (szName holds cchName characters with the
    // terminator); the platform's result, ERROR_NO_MORE_ITEMS past the last.
    LONG EnumSubKey(DWORD dwIndex, char* szName, DWORD cchName) const;

    // Whether the value is there, of any type (its type into *pdwType).
    bool HasValue(const char* szValueName, DWORD* pdwType = nullptr) const;

    // Whether the value is there and a string (REG_SZ, REG_EXPAND_SZ).
    bool IsString(const char* szValueName) const;

    // Reads a value of any type as text (REG_EXPAND_SZ expanded): at most cbMax bytes into szText,
    // which must hold cbMax + 1, terminated right after the data so that a
    // value without its own terminator is never read past its end. False when
    // the value is missing or larger than cbMax.
    // A string value (REG_SZ, REG_EXPAND_SZ) is read wide and handed out in
    // the code page only when the code page holds every character: a path
    // with a character it lacks would name another folder.
    bool QueryText(const char* szValueName, char* szText, DWORD cbMax) const;

    // The same as wide text: at most cchMax characters into szText, which
    // must hold cchMax + 1. Values of other types are taken in the code page.
    bool QueryText(const char* szValueName, wchar_t* szText, DWORD cchMax) const;

private:
    enum class Read { NotAString, Done, Failed };
    // Reads a string value wide; NotAString for a value of another type.
    Read QueryString(const char* szValueName, wchar_t* szText, DWORD cchMax, DWORD& cchRead) const;
    static Read Expand(wchar_t* szText, DWORD cchMax, DWORD& cchRead);
    bool QueryBytes(const char* szValueName, char* szText, DWORD cbMax) const;

    HKEY m_hKey = nullptr;
};
