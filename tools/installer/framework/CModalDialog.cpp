#include "CModalDialog.h"
#include "CApplication.h"

namespace {

// A dialog procedure returns the answer to these messages itself; every other
// answer goes through DWLP_MSGRESULT.
bool AnswersDirectly(UINT message)
{
    return (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_COMPAREITEM ||
           message == WM_VKEYTOITEM || message == WM_CHARTOITEM || message == WM_QUERYDRAGICON ||
           message == WM_INITDIALOG;
}

}  // namespace

CModalDialog::CModalDialog(UINT nIDTemplate, HWND hParent)
    : m_hWnd(nullptr), m_nIDTemplate(nIDTemplate), m_hParent(hParent), m_bDefault(false)
{
}

CModalDialog::~CModalDialog() = default;

const MessageMap* CModalDialog::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        OnCommand(IDCANCEL, &CModalDialog::OnCancel),
        EndOfMessageMap(),
    };
    static const MessageMap map = {CMessageTarget::GetMessageMap(), entries};
    return &map;
}

INT_PTR CModalDialog::DoModal()
{
    return DialogBoxParamA(CApplication::ResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), m_hParent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

BOOL CModalDialog::OnInitDialog()
{
    return TRUE;
}

void CModalDialog::OnCancel()
{
    EndDialog(m_hWnd, IDCANCEL);
}

void CModalDialog::Default()
{
    m_bDefault = true;
}

INT_PTR CALLBACK CModalDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CModalDialog*>(lParam);
        SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
        return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CModalDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!dialog)
        return FALSE;  // messages that come before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hWnd, DWLP_USER, 0);
        dialog->m_hWnd = nullptr;
        return FALSE;
    }
    return dialog->HandleMessage(message, wParam, lParam);
}

INT_PTR CModalDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    m_bDefault = false;
    LRESULT result = 0;
    bool handled = DispatchMessageMap(message, wParam, result);
    // Commands the dialog leaves alone go on to the application (Help).
    if (!handled && message == WM_COMMAND && CApplication::Current())
        handled = CApplication::Current()->DispatchMessageMap(message, wParam, result);
    if (!handled || m_bDefault)
        return FALSE;
    if (AnswersDirectly(message))
        return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
