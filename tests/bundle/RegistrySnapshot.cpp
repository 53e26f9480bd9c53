#include "RegistrySnapshot.h"

RegistrySnapshot::RegistrySnapshot(HKEY hRoot, std::string path, REGSAM view, std::string valueName)
    : m_hRoot(hRoot), m_path(std::move(path)), m_view(view), m_valueName(std::move(valueName))
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(m_hRoot, m_path.c_str(), 0, KEY_READ | m_view, &hKey) != ERROR_SUCCESS)
        return;
    m_existed = m_valueName.empty() || ReadValue(hKey, m_valueName, m_value);
    if (m_valueName.empty())
        m_key = ReadKey(hKey);
    RegCloseKey(hKey);
}

bool RegistrySnapshot::ReadValue(HKEY hKey, const std::string& name, Value& value)
{
    DWORD size = 0;
    if (RegQueryValueExA(hKey, name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    value.name = name;
    value.data.resize(size);
    return RegQueryValueExA(hKey, name.c_str(), nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
}

RegistrySnapshot::Key RegistrySnapshot::ReadKey(HKEY hKey)
{
    Key key;
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumValueA(hKey, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Value value;
        if (ReadValue(hKey, name, value))
            key.values.push_back(std::move(value));
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(hKey, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY hSub = nullptr;
        if (RegOpenKeyExA(hKey, name, 0, KEY_READ, &hSub) != ERROR_SUCCESS)
            continue;
        key.subKeys.emplace_back(name, ReadKey(hSub));
        RegCloseKey(hSub);
    }
    return key;
}

bool RegistrySnapshot::WriteKey(HKEY hKey, const Key& key)
{
    bool ok = true;
    for (const Value& value : key.values)
        ok &= RegSetValueExA(hKey, value.name.c_str(), 0, value.type, value.data.data(),
                             static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
    for (const auto& sub : key.subKeys) {
        HKEY hSub = nullptr;
        if (RegCreateKeyExA(hKey, sub.first.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hSub, nullptr) !=
            ERROR_SUCCESS)
            return false;
        ok &= WriteKey(hSub, sub.second);
        RegCloseKey(hSub);
    }
    return ok;
}

bool RegistrySnapshot::Restore() const
{
    return m_valueName.empty() ? RestoreKey() : RestoreValue();
}

bool RegistrySnapshot::RestoreValue() const
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(m_hRoot, m_path.c_str(), 0, KEY_ALL_ACCESS | m_view, &hKey) != ERROR_SUCCESS)
        return !m_existed;
    const LONG result = m_existed ? RegSetValueExA(hKey, m_valueName.c_str(), 0, m_value.type, m_value.data.data(),
                                                   static_cast<DWORD>(m_value.data.size()))
                                  : RegDeleteValueA(hKey, m_valueName.c_str());
    RegCloseKey(hKey);
    return result == ERROR_SUCCESS || (!m_existed && result == ERROR_FILE_NOT_FOUND);
}

bool RegistrySnapshot::RestoreKey() const
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(m_hRoot, m_path.c_str(), 0, KEY_ALL_ACCESS | m_view, &hKey) == ERROR_SUCCESS) {
        RegDeleteTreeA(hKey, nullptr);
        RegCloseKey(hKey);
        RegDeleteKeyExA(m_hRoot, m_path.c_str(), m_view, 0);
    }
    if (!m_existed)
        return true;
    if (RegCreateKeyExA(m_hRoot, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | m_view, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = WriteKey(hKey, m_key);
    RegCloseKey(hKey);
    return ok;
}
