// Where the user's log goes and whether it is on: a switch in the user's own
// registry hive, read by the driver and set by vkdiag.
#pragma once

#include <string>

class LogSettings {
public:
    static const char kKeyPath[];    // under HKEY_CURRENT_USER
    static const char kValueName[];  // REG_DWORD, 1 = on
    static const char kFileName[];
    static const char kOldFileSuffix[];
    static constexpr unsigned long long kMaxFileBytes = 1024 * 1024;

    static bool IsOn();
    // False when the switch could not be written.
    static bool Set(bool on);
    // %LOCALAPPDATA%\Cellivanta VK, empty when the variable is not set.
    static std::string Folder();
    // The log file, and the one kept from before its last rotation.
    static std::string FilePath();
    static std::string OldFilePath();
};
