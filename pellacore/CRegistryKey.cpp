#include "CRegistryKey.h"

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

bool CRegistryKey::QueryText(const char* szValueName, char* szText, DWORD cbMax) const
{
    DWORD cbData = cbMax;
    LONG result = RegQueryValueExA(m_hKey, szValueName, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(szText), &cbData);
    if (result != ERROR_SUCCESS || cbData > cbMax)
        return false;
    szText[cbData] = '\0';
    return true;
}
