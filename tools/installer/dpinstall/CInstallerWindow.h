// The installer's window, in the user's language: a progress page naming the
// device while the installation runs on a worker thread, then a page with the
// outcome in plain words and a Finish button. Each page is a dialog of its
// own, so that screen readers read the outcome page as they read any newly
// opened dialog; the outcome page is owned by the progress page, which
// closes after it.
#pragma once

#include "CDriverPackageInstaller.h"

#include <functional>
#include <thread>

class CInstallerWindow {
public:
    using Installation = std::function<CDriverPackageInstaller::Result()>;
    // Given the progress page, to own whatever the platform asks meanwhile
    // (Windows 7's prompt for a driver without a signature).
    using OwnedInstallation = std::function<CDriverPackageInstaller::Result(HWND owner)>;

    // Shows the progress page while installation runs, then the outcome until
    // the user presses Finish (or Escape, or closes the window). Returns the
    // installation's result.
    static CDriverPackageInstaller::Result Run(const OwnedInstallation& installation);
    static CDriverPackageInstaller::Result Run(const Installation& installation);

    // The outcome page's text for a result.
    static std::wstring OutcomeText(const CDriverPackageInstaller::Result& result);

private:
    explicit CInstallerWindow(const OwnedInstallation& installation);

    void ShowOutcome(HWND progressPage);
    static INT_PTR CALLBACK InstallingProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK FinishedProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    const OwnedInstallation& m_installation;
    CDriverPackageInstaller::Result m_result;
    std::wstring m_outcomeText;
    std::thread m_worker;
};
