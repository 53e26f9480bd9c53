// A modal dialog built from a dialog template of the program's module. The
// platform runs the modal loop (keyboard navigation, mnemonics, Escape, Enter);
// this class routes the dialog's messages through the message maps.
#pragma once

#include "CMessageTarget.h"

class CModalDialog : public CMessageTarget {
public:
    CModalDialog(UINT nIDTemplate, HWND hParent);
    ~CModalDialog() override;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Shows the dialog and returns the code it was ended with (IDCANCEL for
    // Exit, Escape and Close), or -1 when it could not be created.
    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    const MessageMap* GetMessageMap() const override;
    // Runs while the dialog is created; TRUE lets the platform set the first focus.
    virtual BOOL OnInitDialog();

    void OnCancel();
    // Asks for the platform's default handling of the message being handled.
    void Default();

    HWND m_hWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    HWND m_hParent;
    bool m_bDefault;
};
