// Entry point of the driver package installer: installs the INF beside it and
// reports by exit code and, unless "/se" is given, by a message.
#include "CDriverPackageInstaller.h"
#include "DPInstResource.h"

#include <cstdio>

namespace {

std::string LoadText(UINT id)
{
    char text[512] = {};
    LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof(text));
    return text;
}

std::string ExeFolder()
{
    char path[MAX_PATH * 2] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\'));
}

void Report(DWORD exitCode)
{
    std::string text;
    UINT icon = MB_ICONINFORMATION;
    if (exitCode == ERROR_SUCCESS) {
        text = LoadText(IDS_INSTALLED);
    } else if (exitCode == ERROR_SUCCESS_REBOOT_REQUIRED) {
        text = LoadText(IDS_INSTALLED_REBOOT);
    } else {
        char line[600];
        snprintf(line, sizeof(line), LoadText(IDS_FAILED).c_str(), static_cast<unsigned long>(exitCode));
        text = line;
        icon = MB_ICONERROR;
    }
    MessageBoxA(nullptr, text.c_str(), LoadText(IDS_TITLE).c_str(), MB_OK | icon);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    CDriverPackageInstaller::Options options;
    DWORD exitCode = ERROR_INVALID_PARAMETER;
    if (CDriverPackageInstaller::ParseOptions(commandLine, options))
        exitCode = CDriverPackageInstaller(options).InstallFolder(ExeFolder());
    if (!options.bSilent)
        Report(exitCode);
    return static_cast<int>(exitCode);
}
