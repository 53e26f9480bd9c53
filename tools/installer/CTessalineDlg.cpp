#include "CTessalineDlg.h"
#include "InstallerPlatform.h"
#include "PayloadFiles.h"
#include "UsbDriverPayloads.h"
#include "framework/CApplication.h"
#include "framework/CPaintContext.h"
#include "resource.h"

namespace {

const char kPayloadType[] = "BIN";
const char kInfName[] = "win7-64.inf";
const char kSetupName[] = "Setup.exe";
const char kInstallerParameters[] = "/f /se /lm";

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
    m_workFolder = QueryWorkFolder();
    // An existing folder is fine; a missing one only makes extraction fail later.
    CreateDirectoryA(m_workFolder.c_str(), nullptr);
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
    m_infPath = ExtractResourceToFile(kPayloadType, payloads.infId, kInfName, m_workFolder);
    m_installerPath = ExtractResourceToFile(kPayloadType, payloads.installerId, payloads.installerName, m_workFolder);
    // The installer finds the INF beside itself; its path is not passed.
    if (!m_installerPath.empty())
        Platform().shellExecute(nullptr, nullptr, m_installerPath.c_str(), kInstallerParameters, nullptr, SW_SHOW);
}

void CTessalineDlg::OnInstallJawsDriver()
{
    m_setupPath = ExtractResourceToFile(kPayloadType, IDR_SETUP_PACKAGE, kSetupName, m_workFolder);
    if (!m_setupPath.empty())
        Platform().shellExecute(nullptr, nullptr, m_setupPath.c_str(), nullptr, nullptr, SW_SHOW);
}

void CTessalineDlg::DeleteExtractedFiles()
{
    // A file whose installer still runs cannot go; it stays, and so does the folder.
    if (!m_setupPath.empty())
        Platform().deleteFile(m_setupPath.c_str());
    if (!m_infPath.empty())
        Platform().deleteFile(m_infPath.c_str());
    if (!m_installerPath.empty())
        Platform().deleteFile(m_installerPath.c_str());
    if (!m_workFolder.empty())
        Platform().removeDirectory(m_workFolder.c_str());
}
