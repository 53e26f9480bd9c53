// Entry point of the driver package installer: installs the INF beside it and
// reports by exit code and, unless "/q" or "/sw" is given, in its window.
#include "CDriverPackageInstaller.h"
#include "CInstallerWindow.h"
#include "DPInstResource.h"
#include "SystemLibrary.h"

#include <vector>

namespace {

// The module path, however long; empty when it cannot be had.
std::wstring ModulePath()
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

std::string StoredPackage()
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(IDR_DRIVER_PACKAGE), MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (!resource)
        return std::string();
    const char* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    return data ? std::string(data, SizeofResource(module, resource)) : std::string();
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    const bool safeDllSearch = RestrictDllSearchToSystemFolder();
    CDriverPackageInstaller::Options options;
    const bool valid = CDriverPackageInstaller::ParseOptions(commandLine, options);
    CDriverPackageInstaller::Result refused;
    // It always runs as administrator: without the safe search, any DLL that
    // Windows loads for it could come from the user's folder beside it.
    if (!safeDllSearch) {
        refused.dwError = ERROR_OLD_WIN_VERSION;
        if (!options.bQuiet)
            ShowRefusal(IDS_NEEDS_SAFE_DLL_SEARCH);
        return static_cast<int>(refused.ExitCode());
    }
    auto installation = [&](HWND owner) {
        if (!valid) {
            refused.dwError = ERROR_INVALID_PARAMETER;
            return refused;
        }
        // An installer that cannot tell its own folder gets an empty one and fails.
        const std::wstring folder = CDriverPackageInstaller::FolderOf(ModulePath());
        return CDriverPackageInstaller(options, StoredPackage()).InstallFolder(folder, owner);
    };
    const CDriverPackageInstaller::Result result =
        options.bQuiet ? installation(nullptr) : CInstallerWindow::Run(CInstallerWindow::OwnedInstallation(installation));
    return static_cast<int>(result.ExitCode());
}
