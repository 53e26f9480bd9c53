// An installation that lasts until the test releases it, with the result the
// test chose, shown in the installer's window: the progress page stays up
// until Release(), then the outcome page shows that result.
#pragma once

#include "CInstallerWindow.h"

class HeldInstallation {
public:
    explicit HeldInstallation(const CDriverPackageInstaller::Result& result)
        : m_result(result), m_release(CreateEventA(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~HeldInstallation()
    {
        Release();
        CloseHandle(m_release);
    }
    HeldInstallation(const HeldInstallation&) = delete;
    HeldInstallation& operator=(const HeldInstallation&) = delete;

    void Release() { SetEvent(m_release); }

    // Runs the window over the installation; returns the exit code it gives
    // (what DialogRunner runs).
    INT_PTR RunWindow()
    {
        return static_cast<INT_PTR>(CInstallerWindow::Run([this] {
                                        WaitForSingleObject(m_release, 20000);
                                        return m_result;
                                    }).ExitCode());
    }

private:
    const CDriverPackageInstaller::Result m_result;
    HANDLE m_release;
};
