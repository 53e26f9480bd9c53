#include "ScopedRegistryKey.h"

#include <gtest/gtest.h>

ScopedRegistryKey::ScopedRegistryKey(std::string path, REGSAM view)
    : m_path(std::move(path)), m_view(view)
{
    Delete();
}

ScopedRegistryKey::~ScopedRegistryKey()
{
    Delete();
}

void ScopedRegistryKey::Delete()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_ALL_ACCESS | m_view, &hKey) != ERROR_SUCCESS)
        return;
    RegDeleteTreeA(hKey, nullptr);
    RegCloseKey(hKey);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, m_path.c_str(), m_view, 0);
}

bool ScopedRegistryKey::Exists(const std::string& subKey) const
{
    const std::string path = subKey.empty() ? m_path : m_path + "\\" + subKey;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | m_view, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

HKEY ScopedRegistryKey::CreateKey(const std::string& subKey)
{
    std::string path = subKey.empty() ? m_path : m_path + "\\" + subKey;
    HKEY hKey = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | m_view, nullptr, &hKey, nullptr);
    EXPECT_EQ(result, ERROR_SUCCESS) << "creating " << path;
    return result == ERROR_SUCCESS ? hKey : nullptr;
}

void ScopedRegistryKey::Create(const std::string& subKey)
{
    if (HKEY hKey = CreateKey(subKey))
        RegCloseKey(hKey);
}

void ScopedRegistryKey::SetValue(const std::string& subKey, const char* szName, DWORD dwType,
                                 const void* pData, DWORD cbData)
{
    HKEY hKey = CreateKey(subKey);
    if (!hKey)
        return;
    EXPECT_EQ(RegSetValueExA(hKey, szName, 0, dwType, static_cast<const BYTE*>(pData), cbData),
              ERROR_SUCCESS);
    RegCloseKey(hKey);
}

void ScopedRegistryKey::SetText(const std::string& subKey, const char* szName, const std::string& text)
{
    SetValue(subKey, szName, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}
