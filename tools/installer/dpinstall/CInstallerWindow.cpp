#include "CInstallerWindow.h"
#include "DPInstResource.h"

#include <algorithm>
#include <cwchar>

namespace {

// Posted by the worker thread when the installation is over.
const UINT WM_INSTALLATION_DONE = WM_APP + 1;
// Posted to the outcome page to itself, so that it comes once the page shows.
const UINT WM_ANNOUNCE_OUTCOME = WM_APP + 2;

// Every text is wide from the string table to the window: file names and
// the system's words are not bound to the ANSI code page.
std::wstring LoadText(UINT id)
{
    wchar_t text[512] = {};
    LoadStringW(GetModuleHandleW(nullptr), id, text, 512);
    return text;
}

// printf-style (%ls for a text), on a text of the string table.
template <typename... Args>
std::wstring Format(UINT id, Args... args)
{
    wchar_t line[1024] = {};
    swprintf(line, 1024, LoadText(id).c_str(), args...);
    return line;
}

RECT RectIn(HWND parent, HWND child)
{
    RECT rect = {};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The height the static text needs at its width, wrapped as it draws itself.
int TextHeight(HWND control, int width)
{
    const int length = GetWindowTextLengthW(control);
    std::wstring text(length + 1, L'\0');
    GetWindowTextW(control, &text[0], length + 1);
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT needed = {0, 0, width, 0};
    DrawTextW(dc, text.c_str(), length, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return needed.bottom - needed.top;
}

// The outcome may be longer than the page was laid out for (each refused
// INF adds a paragraph): the text grows downwards, and what lies below it and
// the page itself with it, within the screen's work area.
void GrowToFitText(HWND page, HWND text)
{
    const RECT box = RectIn(page, text);
    RECT window = {}, work = {};
    GetWindowRect(page, &window);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int room = (work.bottom - work.top) - (window.bottom - window.top);
    const int grow = std::min<int>(TextHeight(text, box.right - box.left) - (box.bottom - box.top), room);
    if (grow <= 0)
        return;
    SetWindowPos(text, nullptr, 0, 0, box.right - box.left, box.bottom - box.top + grow, SWP_NOMOVE | SWP_NOZORDER);
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const RECT rect = RectIn(page, child);
        if (child != text && rect.top >= box.bottom)
            SetWindowPos(child, nullptr, rect.left, rect.top + grow, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    const int top = std::max<int>(work.top, std::min<int>(window.top, work.bottom - (window.bottom - window.top) - grow));
    SetWindowPos(page, nullptr, window.left, top, window.right - window.left, window.bottom - window.top + grow,
                 SWP_NOZORDER);
}

std::wstring SystemText(DWORD error)
{
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : LoadText(IDS_NO_SYSTEM_TEXT);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

// Setup errors are read in hexadecimal, the others in decimal.
std::wstring ErrorNumber(DWORD error)
{
    wchar_t number[16];
    swprintf(number, 16, error > 0xFFFF ? L"0x%08lX" : L"%lu", static_cast<unsigned long>(error));
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
    // The worker is started by the progress page once it is up, and posts
    // to it when done; the page then shows the outcome page and closes after
    // it. Unicode windows, so that the outcome's file names reach the screen
    // whole.
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_INSTALLING), nullptr, InstallingProc,
                    reinterpret_cast<LPARAM>(&window));
    if (!window.m_worker.joinable()) {  // no window could be made: install all the same
        window.m_result = installation(nullptr);
        window.ShowOutcome(nullptr);
    }
    return window.m_result;
}

// The outcome page, owned by the progress page while that is still open: a
// window of the program that has the foreground hands it on to the page it
// owns, which a new window made after it closed may be refused, and a screen
// reader then reads nothing of it.
void CInstallerWindow::ShowOutcome(HWND progressPage)
{
    if (m_worker.joinable())
        m_worker.join();
    m_outcomeText = OutcomeText(m_result);
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FINISHED), progressPage, FinishedProc,
                    reinterpret_cast<LPARAM>(this));
}

std::wstring CInstallerWindow::OutcomeText(const CDriverPackageInstaller::Result& result)
{
    using Outcome = CDriverPackageInstaller::Outcome;
    std::wstring text;
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
            text += L" " + Format(IDS_PROVIDED_PORT, result.portName.c_str());
        break;
    case Outcome::Failed:
        text = Format(IDS_FAILED, SystemText(result.dwError).c_str(), ErrorNumber(result.dwError).c_str());
        break;
    }
    if (result.bRebootRequired)
        text += L" " + LoadText(IDS_RESTART);
    for (const std::wstring& inf : result.refusedInfs)
        text += L"\r\n\r\n" + Format(IDS_REFUSED, CDriverPackageInstaller::NameOf(inf).c_str());
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
        window->ShowOutcome(hWnd);
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
        SetDlgItemTextW(hWnd, IDC_PAGE_TEXT, window->m_outcomeText.c_str());
        GrowToFitText(hWnd, GetDlgItem(hWnd, IDC_PAGE_TEXT));
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
