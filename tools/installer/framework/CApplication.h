// The one application object of a program: constructed as a global, started by
// the program's entry point through RunApplication.
#pragma once

#include "CMessageTarget.h"

#include <string>

class CModalDialog;

class CApplication : public CMessageTarget {
public:
    CApplication();
    ~CApplication() override;
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // FALSE ends the program at once (no message loop), as a dialog program does.
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // The program's entry point: InitInstance, the message loop if it asks for
    // one, ExitInstance. Returns the process exit code.
    static int RunApplication();
    static CApplication* Current();
    // The module whose resources the program uses: the executable itself.
    static HINSTANCE ResourceHandle();

    // Names the key that the program's settings would live under. The tool keeps
    // no settings, so nothing is ever read or written there.
    void SetRegistryKey(const char* key);
    const std::string& RegistryKey() const { return m_registryKey; }

    CModalDialog* m_pMainWnd;

protected:
    // The Help command: no help file is delivered, so there is nothing to show.
    void OnHelp();

private:
    std::string m_registryKey;
};
