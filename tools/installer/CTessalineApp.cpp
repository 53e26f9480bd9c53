#include "CTessalineApp.h"
#include "CTessalineDlg.h"
#include "SystemLibrary.h"
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

namespace {

// comctl32 is no known DLL: taken from the system folder, not imported.
void InitCommonControlClasses()
{
    using InitCommonControlsExFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    HMODULE comctl32 = LoadSystemLibrary("comctl32.dll");
    auto init = comctl32 ? reinterpret_cast<InitCommonControlsExFn>(
                               reinterpret_cast<void*>(GetProcAddress(comctl32, "InitCommonControlsEx")))
                         : nullptr;
    INITCOMMONCONTROLSEX controls = {sizeof(controls), 0xFF};
    if (init)
        init(&controls);
}

}  // namespace

BOOL CTessalineApp::InitInstance()
{
    InitCommonControlClasses();
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
