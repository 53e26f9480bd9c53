#include "CTessalineApp.h"
#include "CTessalineDlg.h"
#include "resource.h"

#include <commctrl.h>

CTessalineApp::CTessalineApp() = default;

CTessalineApp::~CTessalineApp() = default;

const MessageMap* CTessalineApp::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        OnCommand(ID_HELP, &CTessalineApp::OnHelp, 0),
        EndOfMessageMap(),
    };
    static const MessageMap map = {CApplication::GetMessageMap(), entries};
    return &map;
}

BOOL CTessalineApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xFF};
    InitCommonControlsEx(&controls);
    CApplication::InitInstance();
    SetRegistryKey("Local AppWizard-Generated Applications");

    {
        CTessalineDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }  // the dialog's destructor deletes what its buttons wrote

    // No message loop: the program ends once the dialog is gone.
    return FALSE;
}
