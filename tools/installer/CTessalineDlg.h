// The tool's one dialog: install the USB driver, install the driver for the
// screen reader, or exit. Each button writes its payloads into the working
// folder and starts the installer without waiting; whatever fails is said in
// a message box. The destructor deletes what the buttons wrote.
#pragma once

#include "CWorkFolder.h"
#include "framework/CModalDialog.h"

#include <string>

class CTessalineDlg : public CModalDialog {
public:
    explicit CTessalineDlg(HWND hParent = nullptr);
    ~CTessalineDlg() override;

protected:
    const MessageMap* GetMessageMap() const override;
    BOOL OnInitDialog() override;

private:
    void OnPaint();
    HICON OnQueryDragIcon();
    void OnInstallUsbDriver();
    void OnInstallJawsDriver();
    void DeleteExtractedFiles();
    bool Extract(WORD id, const wchar_t* name, std::wstring& path);
    void Start(const wchar_t* name, const std::wstring& path, const wchar_t* parameters);
    void StartDirectly(const std::wstring& path, const wchar_t* parameters);
    void Report(UINT textId, DWORD error);

    HICON m_hIcon;
    std::wstring m_setupPath;
    std::wstring m_infPath;
    std::wstring m_installerPath;
    CWorkFolder m_workFolder;
};
