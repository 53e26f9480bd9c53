#include "CTessalineDlg.h"
#include "InstallerPlatform.h"
#include "UsbDriverPayloads.h"
#include "framework/CApplication.h"
#include "framework/CPaintContext.h"
#include "resource.h"

namespace {

const wchar_t kInfName[] = L"win7-64.inf";
const wchar_t kSetupName[] = L"Setup.exe";
const wchar_t kInstallerParameters[] = L"/f /se /lm";

std::wstring LoadText(UINT id)
{
    const wchar_t* text = nullptr;
    int length = LoadStringW(CApplication::ResourceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return text && length > 0 ? std::wstring(text, length) : std::wstring();
}

std::wstring SystemText(DWORD error)
{
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : LoadText(IDS_ERROR_WITHOUT_TEXT);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text;
}

// A text of the string table with %1 the system's words for error and %2 its number.
std::wstring ErrorMessage(UINT textId, DWORD error)
{
    const std::wstring words = SystemText(error);
    const std::wstring number = std::to_wstring(error);
    DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(words.c_str()), reinterpret_cast<DWORD_PTR>(number.c_str())};
    const std::wstring format = LoadText(textId);
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  format.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
                                  reinterpret_cast<va_list*>(arguments));
    std::wstring text = length && buffer ? std::wstring(buffer, length) : format;
    LocalFree(buffer);
    return text;
}

UINT ExtractFailureText(DWORD error, HeldFileStep failedAt)
{
    if (error == ERROR_REPARSE_POINT_ENCOUNTERED)
        return IDS_FOLDER_REDIRECTED;
    if (failedAt == HeldFileStep::Write)
        return IDS_CANNOT_WRITE;
    // Malware is named only for a file that really differs from the payload.
    return error == ERROR_INVALID_DATA ? IDS_PAYLOAD_CHANGED : IDS_CANNOT_CHECK;
}

bool HasSafeDllSearch()
{
    return Platform().getProcAddress(GetModuleHandleA("kernel32"), "SetDefaultDllDirectories") != nullptr;
}

}  // namespace

CTessalineDlg::CTessalineDlg(HWND hParent)
    : CModalDialog(IDD_TESSALINE_DIALOG, hParent),
      m_hIcon(LoadIconA(CApplication::ResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME)))
{
}

CTessalineDlg::~CTessalineDlg()
{
    DeleteExtractedFiles();
}

const MessageMap* CTessalineDlg::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        OnMessage(WM_PAINT, &CTessalineDlg::OnPaint),
        OnMessageIcon(WM_QUERYDRAGICON, &CTessalineDlg::OnQueryDragIcon),
        OnCommand(IDC_INSTALL_USB_DRIVER, &CTessalineDlg::OnInstallUsbDriver),
        OnCommand(IDC_INSTALL_JAWS_DRIVER, &CTessalineDlg::OnInstallJawsDriver),
        EndOfMessageMap(),
    };
    static const MessageMap map = {CModalDialog::GetMessageMap(), entries};
    return &map;
}

BOOL CTessalineDlg::OnInitDialog()
{
    CModalDialog::OnInitDialog();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    // The working folder is made at the first click: an empty folder waiting
    // meanwhile could be turned into a link by another program.
    return TRUE;
}

void CTessalineDlg::OnPaint()
{
    if (!IsIconic(m_hWnd)) {
        Default();
        return;
    }
    CPaintContext dc(m_hWnd);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = GetSystemMetrics(SM_CXICON);
    int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HICON CTessalineDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

void CTessalineDlg::OnInstallUsbDriver()
{
    const UsbDriverPayloads payloads = UsbDriverPayloads::ForThisPlatform();
    // The installer finds the INF beside itself; its path is not passed.
    if (Extract(payloads.infId, kInfName, m_infPath) &&
        Extract(payloads.installerId, payloads.installerName, m_installerPath))
        Start(payloads.installerName, m_installerPath, kInstallerParameters);
}

void CTessalineDlg::OnInstallJawsDriver()
{
    // The setup package loads DLLs by name, as administrator, from a folder
    // the user's programs can write to: only the safe search makes that safe.
    if (!HasSafeDllSearch()) {
        Report(IDS_SETUP_NEEDS_SAFE_DLL_SEARCH, ERROR_OLD_WIN_VERSION);
        return;
    }
    if (Extract(IDR_SETUP_PACKAGE, kSetupName, m_setupPath))
        Start(kSetupName, m_setupPath, nullptr);
}

bool CTessalineDlg::Extract(WORD id, const wchar_t* name, std::wstring& path)
{
    HeldFileStep failedAt = HeldFileStep::Write;
    DWORD error = m_workFolder.IsCreated() ? ERROR_SUCCESS : m_workFolder.Create();
    if (error == ERROR_SUCCESS)
        error = m_workFolder.Extract(id, name, path, failedAt);
    if (error != ERROR_SUCCESS)
        Report(ExtractFailureText(error, failedAt), error);
    return error == ERROR_SUCCESS;
}

void CTessalineDlg::Start(const wchar_t* name, const std::wstring& path, const wchar_t* parameters)
{
    // Checked last, through the held handles: the path must still lead to
    // the payload written, not through a link turned elsewhere since.
    const DWORD checked = m_workFolder.CheckBeforeStart(name);
    if (checked != ERROR_SUCCESS) {
        Report(checked == ERROR_REPARSE_POINT_ENCOUNTERED ? IDS_FOLDER_REDIRECTED : IDS_CANNOT_START, checked);
        return;
    }
    if (Platform().isElevated()) {
        StartDirectly(path, parameters);
        return;
    }
    // Owned by the dialog, so that the elevation prompt and the installer come
    // in front of it; the shell's own error boxes give way to the tool's.
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.hwnd = m_hWnd;
    info.lpFile = path.c_str();
    info.lpParameters = parameters;
    info.nShow = SW_SHOW;
    if (Platform().shellExecuteEx(&info))
        return;
    const DWORD error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    Report(error == ERROR_CANCELLED ? IDS_START_CANCELLED : IDS_CANNOT_START, error);
}

// Already elevated, no prompt is needed: the checked file itself is started,
// never through the shell, whose per-user settings (class overrides under
// HKCU) a program of the same user could point at its own command.
void CTessalineDlg::StartDirectly(const std::wstring& path, const wchar_t* parameters)
{
    std::wstring commandLine = L"\"" + path + L"\"";
    if (parameters)
        commandLine += std::wstring(L" ") + parameters;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (Platform().createProcess(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return;
    }
    const DWORD error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    Report(IDS_CANNOT_START, error);
}

void CTessalineDlg::Report(UINT textId, DWORD error)
{
    wchar_t caption[256] = {};
    GetWindowTextW(m_hWnd, caption, 256);
    Platform().messageBox(m_hWnd, ErrorMessage(textId, error).c_str(), caption, MB_OK | MB_ICONERROR);
}

void CTessalineDlg::DeleteExtractedFiles()
{
    // A file whose installer still runs cannot go, and stays with its folder.
    m_workFolder.DeleteWritten();
}
