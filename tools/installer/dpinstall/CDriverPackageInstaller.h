// Installs the USB driver package (the INF lying beside the installer) for the
// display's hardware id: through Plug and Play for a connected display, and in
// legacy mode into the driver store when no display is connected, so that
// Windows binds the driver when the display is plugged in later.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CDriverPackageInstaller {
public:
    // "/f": install even over a driver that Windows ranks higher.
    // "/se": no message, the exit code only. "/lm": install with no display present.
    struct Options {
        bool bForce = false;
        bool bSilent = false;
        bool bLegacyMode = false;
    };

    // The platform's installation calls; tests replace them.
    struct SetupCalls {
        BOOL(WINAPI* updateDriver)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
        BOOL(WINAPI* installDriver)(HWND, LPCSTR, DWORD, PBOOL);
    };

    static const char kHardwareId[];

    // Parses the command line's options (any order, any case, '/' or '-');
    // false when it holds anything else (the valid ones are still taken).
    static bool ParseOptions(const std::string& commandLine, Options& options);
    static SetupCalls PlatformCalls();
    // The driver packages in a folder: every *.inf file, by full path.
    static std::vector<std::string> FindInfFiles(const std::string& folder);

    explicit CDriverPackageInstaller(const Options& options, const SetupCalls& calls = PlatformCalls());

    // Installs every INF of the folder. Returns the process exit code: 0,
    // ERROR_SUCCESS_REBOOT_REQUIRED, or the Win32 error of the first failure
    // (ERROR_FILE_NOT_FOUND when the folder holds no INF).
    DWORD InstallFolder(const std::string& folder);
    DWORD InstallInf(const std::string& infPath);

private:
    Options m_options;
    SetupCalls m_calls;
    bool m_bRebootRequired;
};
