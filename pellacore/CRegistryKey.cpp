#include "CRegistryKey.h"
#include "SystemEnvironment.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace {

// The longest text value read: more than any folder or port name the
// callers take, and small enough for the stack.
const DWORD kMaxChars = 1024;

// Value names are ours and plain ASCII.
std::wstring Widen(const char* szName)
{
    std::wstring name;
    while (*szName)
        name += static_cast<wchar_t>(static_cast<unsigned char>(*szName++));
    return name;
}

// Converts cchText characters into the code page: the number of bytes, 0
// when they do not fit in cbMax or the code page lacks one of them.
int ToCodePage(const wchar_t* szText, DWORD cchText, char* szOut, DWORD cbMax)
{
    if (cchText == 0)
        return 0;
    BOOL bLossy = FALSE;
    // UTF-8 holds every character and takes neither the flag nor the answer.
    const bool bUtf8 = GetACP() == CP_UTF8;
    int cbOut = WideCharToMultiByte(CP_ACP, bUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, szText, static_cast<int>(cchText),
                                    szOut, static_cast<int>(cbMax), nullptr, bUtf8 ? nullptr : &bLossy);
    return bLossy ? 0 : cbOut;
}

}  // namespace

CRegistryKey::~CRegistryKey()
{
    Close();
}

bool CRegistryKey::Open(const char* szPath)
{
    Close();
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, szPath, 0, KEY_READ | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS)
        return false;
    m_hKey = hKey;
    return true;
}

void CRegistryKey::Close()
{
    if (m_hKey) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}

LONG CRegistryKey::EnumSubKey(DWORD dwIndex, char* szName, DWORD cchName) const
{
    return RegEnumKeyExA(m_hKey, dwIndex, szName, &cchName, nullptr, nullptr, nullptr, nullptr);
}

CRegistryKey::Read CRegistryKey::QueryString(const char* szValueName, wchar_t* szText, DWORD cchMax,
                                             DWORD& cchRead) const
{
    const std::wstring name = Widen(szValueName);
    DWORD dwType = 0;
    DWORD cbData = cchMax * sizeof(wchar_t);
    LONG result = RegQueryValueExW(m_hKey, name.c_str(), nullptr, &dwType, reinterpret_cast<BYTE*>(szText), &cbData);
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return Read::Failed;
    if (dwType != REG_SZ && dwType != REG_EXPAND_SZ)
        return Read::NotAString;
    if (result != ERROR_SUCCESS || cbData > cchMax * sizeof(wchar_t))
        return Read::Failed;
    cchRead = cbData / sizeof(wchar_t);
    szText[cchRead] = L'\0';
    return dwType == REG_EXPAND_SZ ? Expand(szText, cchMax, cchRead) : Read::Done;
}

// A REG_EXPAND_SZ value names its folder through environment variables
// ("%ProgramData%\..."): handed out expanded with the system's variables,
// when that still fits. Never with this process's own: for an elevated setup
// they are the user's, which any program of the user can set
// (HKCU\Environment) to lead the setup into a folder of its own. A variable
// the system does not have names no folder.
CRegistryKey::Read CRegistryKey::Expand(wchar_t* szText, DWORD cchMax, DWORD& cchRead)
{
    std::wstring expanded;
    if (!ExpandWithSystemVariables(szText, expanded) || expanded.size() > cchMax)
        return Read::Failed;
    cchRead = static_cast<DWORD>(expanded.size());
    wmemcpy(szText, expanded.c_str(), expanded.size() + 1);
    return Read::Done;
}

bool CRegistryKey::HasValue(const char* szValueName, DWORD* pdwType) const
{
    DWORD dwType = 0;
    const LONG result = RegQueryValueExW(m_hKey, Widen(szValueName).c_str(), nullptr, &dwType, nullptr, nullptr);
    if (pdwType)
        *pdwType = dwType;
    return result == ERROR_SUCCESS;
}

bool CRegistryKey::IsString(const char* szValueName) const
{
    DWORD dwType = 0;
    return HasValue(szValueName, &dwType) && (dwType == REG_SZ || dwType == REG_EXPAND_SZ);
}

bool CRegistryKey::QueryText(const char* szValueName, char* szText, DWORD cbMax) const
{
    // A character takes at least one byte: more characters than cbMax never fit.
    wchar_t wide[kMaxChars + 1];
    DWORD cchRead = 0;
    switch (QueryString(szValueName, wide, std::min(cbMax, kMaxChars), cchRead)) {
    case Read::NotAString:
        return QueryBytes(szValueName, szText, cbMax);
    case Read::Failed:
        return false;
    case Read::Done:
        break;
    }
    int cbText = ToCodePage(wide, cchRead, szText, cbMax);
    if (cbText == 0 && cchRead != 0)
        return false;
    szText[cbText] = '\0';
    return true;
}

bool CRegistryKey::QueryText(const char* szValueName, wchar_t* szText, DWORD cchMax) const
{
    DWORD cchRead = 0;
    switch (QueryString(szValueName, szText, cchMax, cchRead)) {
    case Read::Done:
        return true;
    case Read::Failed:
        return false;
    case Read::NotAString:
        break;
    }
    char bytes[kMaxChars + 1];
    if (!QueryBytes(szValueName, bytes, std::min(cchMax, kMaxChars)))
        return false;
    int cchText = MultiByteToWideChar(CP_ACP, 0, bytes, -1, szText, static_cast<int>(cchMax) + 1);
    return cchText > 0;
}

bool CRegistryKey::QueryBytes(const char* szValueName, char* szText, DWORD cbMax) const
{
    DWORD cbData = cbMax;
    LONG result = RegQueryValueExA(m_hKey, szValueName, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(szText), &cbData);
    if (result != ERROR_SUCCESS || cbData > cbMax)
        return false;
    szText[cbData] = '\0';
    return true;
}
