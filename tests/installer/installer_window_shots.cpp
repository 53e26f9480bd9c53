// The driver package installer's window held on one page, for the pictures in
// docs/ (tools/installer/screenshots.sh): "installing" keeps the progress
// page up, "installed" shows the outcome page of a successful installation.
#include "CInstallerWindow.h"

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    const bool installing = strstr(commandLine, "installing") != nullptr;
    CInstallerWindow::Run([installing] {
        if (installing)
            Sleep(INFINITE);
        CDriverPackageInstaller::Result result;
        result.outcome = CDriverPackageInstaller::Outcome::Installed;
        return result;
    });
    return 0;
}
