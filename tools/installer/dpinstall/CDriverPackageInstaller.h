// Installs the display's USB driver package for its hardware id: through Plug
// and Play for a connected display, and in legacy mode into the driver store
// when no display is connected, so that Windows binds the driver when the
// display is plugged in later. It runs elevated from a folder the user can
// write to, so it installs only the one package it carries itself (compared
// byte for byte) and refuses every other INF lying there.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CDriverPackageInstaller {
public:
    // "/f": install even over a driver that Windows ranks higher.
    // "/se": no welcome or licence page (this installer has none): the window
    // shows the progress and the outcome. "/q" or "/sw": no window at all, the
    // exit code only. "/lm": install with no display present.
    struct Options {
        bool bForce = false;
        bool bQuiet = false;
        bool bLegacyMode = false;
    };

    // The platform's installation calls; tests replace them.
    struct SetupCalls {
        BOOL(WINAPI* updateDriver)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
        BOOL(WINAPI* installDriver)(HWND, LPCSTR, DWORD, PBOOL);
    };

    enum class Outcome {
        Installed,        // on the connected display
        UpToDate,         // the display already has this driver or a better one
        ReadyForDevice,   // in the driver store, for when a display is plugged in
        Failed,
    };

    struct Result {
        Outcome outcome = Outcome::Failed;
        DWORD dwError = ERROR_SUCCESS;   // the system's error when failed
        bool bRebootRequired = false;
        std::vector<std::string> refusedInfs;  // other INFs found beside it, not installed

        // The exit code in the packed form of driver package installers,
        // 0xWWXXYYZZ: WW flags (0x80 a package failed, 0x40 restart needed),
        // XX packages that failed, YY packages only put into the driver
        // store, ZZ packages installed on a device.
        DWORD ExitCode() const;
    };

    static const char kHardwareId[];
    static const char kPackageName[];  // the INF the tool writes beside the installer

    // Parses the command line's options (any order, any case, '/' or '-');
    // false when it holds anything else (the valid ones are still taken).
    static bool ParseOptions(const std::string& commandLine, Options& options);
    static SetupCalls PlatformCalls();
    // The folder of a full path, without the backslash; empty when it has none.
    static std::string FolderOf(const std::string& path);
    // The file name of a path.
    static std::string NameOf(const std::string& path);

    // package: the INF text this installer carries, the only one it installs.
    CDriverPackageInstaller(const Options& options, std::string package, const SetupCalls& calls = PlatformCalls());

    // Installs the package lying in folder (a full path; an empty folder fails
    // without looking anywhere) and refuses the folder's other INFs.
    Result InstallFolder(const std::string& folder);

private:
    Result InstallPackage(const std::string& infPath);
    bool IsOurPackage(HANDLE file) const;

    Options m_options;
    std::string m_package;
    SetupCalls m_calls;
};
