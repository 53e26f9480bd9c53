// Installs the display's USB driver package for its hardware id: through Plug
// and Play for a connected display, and in legacy mode into the driver store
// when no display is connected, so that Windows binds the driver when the
// display is plugged in later. Windows 10 and later need no package: their
// own USB serial driver takes every device of the communications class, and
// they would refuse ours, which has no catalog. It runs elevated from a
// folder the user can write to, so it installs only the package it carries
// itself, from a folder of its own, and names every other INF lying beside it
// as not installed.
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

    // The platform's installation calls, its version and where the package is
    // written for them; tests replace them. A missing call fails with
    // ERROR_PROC_NOT_FOUND; no version: the package is installed.
    struct SetupCalls {
        BOOL(WINAPI* updateDriver)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);
        BOOL(WINAPI* installDriver)(HWND, LPCWSTR, DWORD, PBOOL);
        DWORD (*windowsMajorVersion)() = nullptr;
        std::wstring privateParent;  // empty: the Windows folder's Temp
    };

    enum class Outcome {
        Installed,          // on the connected display
        UpToDate,           // the display already has this driver or a better one
        ReadyForDevice,     // in the driver store, for when a display is plugged in
        ProvidedByWindows,  // Windows 10 or later: its own driver serves the display
        Failed,
    };

    struct Result {
        Outcome outcome = Outcome::Failed;
        DWORD dwError = ERROR_SUCCESS;   // the system's error when failed
        bool bRebootRequired = false;
        // Wide, as Windows names files: a name the ANSI code page cannot spell stays whole.
        std::vector<std::wstring> refusedInfs;  // other INFs found beside it, not installed
        std::wstring portName;  // the display's COM port, when Windows provides the driver

        // The exit code in the packed form of driver package installers,
        // 0xWWXXYYZZ: WW flags (0x80 a package failed, 0x40 restart needed),
        // XX packages that failed, YY packages only put into the driver
        // store, ZZ packages installed on a device; 0 when Windows provides
        // the driver itself.
        DWORD ExitCode() const;
    };

    static const wchar_t kHardwareId[];
    static const wchar_t kPackageName[];  // the INF the tool writes beside the installer

    // Parses the command line's options (any order, any case, '/' or '-');
    // false when it holds anything else (the valid ones are still taken).
    static bool ParseOptions(const std::string& commandLine, Options& options);
    static SetupCalls PlatformCalls();
    // The folder of a full path, without the backslash; empty when it has none.
    static std::wstring FolderOf(const std::wstring& path);
    // The file name of a path.
    static std::wstring NameOf(const std::wstring& path);
    // The COM port Windows gave the display, empty when it never saw one.
    static std::wstring DisplayPort();

    // package: the INF text this installer carries, the only one it installs.
    CDriverPackageInstaller(const Options& options, std::string package, const SetupCalls& calls = PlatformCalls());

    // Installs the package it carries, written into a folder of its own, and
    // names each INF in folder (its own, a full path; an empty folder fails
    // without looking anywhere) but the package itself, byte for byte under
    // its own name: none of them is installed.
    // Prompts of the platform belong to owner.
    Result InstallFolder(const std::wstring& folder, HWND owner = nullptr);

private:
    std::vector<std::wstring> ForeignInfs(const std::wstring& folder) const;
    bool IsOurPackage(const std::wstring& path) const;
    bool WindowsProvidesDriver() const;
    Result InstallPrivateCopy(HWND owner);
    Result InstallPackage(const std::wstring& infPath, HWND owner);

    Options m_options;
    std::string m_package;
    SetupCalls m_calls;
};
