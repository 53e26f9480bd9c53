#include "CInstallerWindow.h"
#include "DPInstResource.h"

#include <cstdio>

namespace {

// Posted by the worker thread when the installation is over.
const UINT WM_INSTALLATION_DONE = WM_APP + 1;
// Posted to the outcome page to itself, so that it comes once the page shows.
const UINT WM_ANNOUNCE_OUTCOME = WM_APP + 2;

std::string LoadText(UINT id)
{
    char text[512] = {};
    LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof(text));
    return text;
}

// printf-style with one argument, on a text of the string table.
template <typename... Args>
std::string Format(UINT id, Args... args)
{
    char line[1024] = {};
    snprintf(line, sizeof(line), LoadText(id).c_str(), args...);
    return line;
}

std::string SystemText(DWORD error)
{
    char* buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = length && buffer ? std::string(buffer, length) : LoadText(IDS_NO_SYSTEM_TEXT);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Setup errors are read in hexadecimal, the others in decimal.
std::string ErrorNumber(DWORD error)
{
    char number[16];
    snprintf(number, sizeof(number), error > 0xFFFF ? "0x%08lX" : "%lu", static_cast<unsigned long>(error));
    return number;
}

void EndOnFinish(HWND hWnd, WPARAM wParam)
{
    if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)
        EndDialog(hWnd, IDOK);
}

}  // namespace

CInstallerWindow::CInstallerWindow(const OwnedInstallation& installation) : m_installation(installation) {}

CDriverPackageInstaller::Result CInstallerWindow::Run(const Installation& installation)
{
    return Run(OwnedInstallation([&installation](HWND) { return installation(); }));
}

CDriverPackageInstaller::Result CInstallerWindow::Run(const OwnedInstallation& installation)
{
    CInstallerWindow window(installation);
    HINSTANCE module = GetModuleHandleA(nullptr);
    // The worker is started by the progress page once it is up, and posts
    // to it when done; the page then closes.
    DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_INSTALLING), nullptr, InstallingProc,
                    reinterpret_cast<LPARAM>(&window));
    if (window.m_worker.joinable())
        window.m_worker.join();
    else
        window.m_result = installation(nullptr);  // no window could be made: install all the same
    window.m_outcomeText = OutcomeText(window.m_result);
    DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_FINISHED), nullptr, FinishedProc, reinterpret_cast<LPARAM>(&window));
    return window.m_result;
}

std::string CInstallerWindow::OutcomeText(const CDriverPackageInstaller::Result& result)
{
    using Outcome = CDriverPackageInstaller::Outcome;
    std::string text;
    switch (result.outcome) {
    case Outcome::Installed:
        text = LoadText(IDS_INSTALLED);
        break;
    case Outcome::UpToDate:
        text = LoadText(IDS_UP_TO_DATE);
        break;
    case Outcome::ReadyForDevice:
        text = LoadText(IDS_READY);
        break;
    case Outcome::ProvidedByWindows:
        text = LoadText(IDS_PROVIDED);
        if (!result.portName.empty())
            text += " " + Format(IDS_PROVIDED_PORT, result.portName.c_str());
        break;
    case Outcome::Failed:
        text = Format(IDS_FAILED, SystemText(result.dwError).c_str(), ErrorNumber(result.dwError).c_str());
        break;
    }
    if (result.bRebootRequired)
        text += " " + LoadText(IDS_RESTART);
    for (const std::string& inf : result.refusedInfs)
        text += "\r\n\r\n" + Format(IDS_REFUSED, CDriverPackageInstaller::NameOf(inf).c_str());
    return text;
}

INT_PTR CALLBACK CInstallerWindow::InstallingProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam)
{
    auto* window = reinterpret_cast<CInstallerWindow*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        window = reinterpret_cast<CInstallerWindow*>(lParam);
        // An installation cannot be stopped half-way: no Close while it runs.
        EnableMenuItem(GetSystemMenu(hWnd, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
        window->m_worker = std::thread([window, hWnd] {
            window->m_result = window->m_installation(hWnd);
            PostMessageA(hWnd, WM_INSTALLATION_DONE, 0, 0);
        });
        return TRUE;
    }
    case WM_INSTALLATION_DONE:
        EndDialog(hWnd, IDOK);
        return TRUE;
    case WM_COMMAND:
    case WM_CLOSE:
        return TRUE;  // Escape and Alt+F4 wait for the end, like the installation
    }
    return FALSE;
}

INT_PTR CALLBACK CInstallerWindow::FinishedProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        auto* window = reinterpret_cast<CInstallerWindow*>(lParam);
        SetDlgItemTextA(hWnd, IDC_PAGE_TEXT, window->m_outcomeText.c_str());
        SetForegroundWindow(hWnd);
        PostMessageA(hWnd, WM_ANNOUNCE_OUTCOME, 0, 0);
        return TRUE;  // the first focus: Finish
    }
    case WM_ANNOUNCE_OUTCOME:
        // The platform may refuse the page the foreground, and a screen
        // reader then reads nothing of it on its own: tell it the outcome
        // text changed, now that the page shows.
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, GetDlgItem(hWnd, IDC_PAGE_TEXT), OBJID_CLIENT, CHILDID_SELF);
        return TRUE;
    case WM_COMMAND:
        EndOnFinish(hWnd, wParam);
        return TRUE;
    case WM_CLOSE:
        EndDialog(hWnd, IDOK);
        return TRUE;
    }
    return FALSE;
}
