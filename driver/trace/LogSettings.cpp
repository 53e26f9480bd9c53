#include "LogSettings.h"

#include <windows.h>

const char LogSettings::kKeyPath[] = "Software\\Cellivanta VK";
const char LogSettings::kValueName[] = "Log";
const char LogSettings::kFileName[] = "VK.LOG";
const char LogSettings::kOldFileSuffix[] = ".1";

bool LogSettings::IsOn()
{
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG result =
        RegGetValueA(HKEY_CURRENT_USER, kKeyPath, kValueName, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return result == ERROR_SUCCESS && value == 1;
}

bool LogSettings::Set(bool on)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const DWORD value = on ? 1 : 0;
    const LONG result =
        RegSetValueExA(key, kValueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

std::string LogSettings::Folder()
{
    char base[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string();
    return std::string(base, n) + "\\Cellivanta VK";
}

std::string LogSettings::FilePath()
{
    const std::string folder = Folder();
    return folder.empty() ? folder : folder + "\\" + kFileName;
}

std::string LogSettings::OldFilePath()
{
    const std::string path = FilePath();
    return path.empty() ? path : path + kOldFileSuffix;
}
