// The tool's one dialog: install the USB driver, install the driver for the
// screen reader, or exit. Each button writes its payloads into the working
// folder and starts the installer without waiting; the destructor deletes
// what the buttons wrote.
#pragma once

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

    HICON m_hIcon;
    std::string m_setupPath;
    std::string m_infPath;
    std::string m_installerPath;
    std::string m_workFolder;
};
