// Plays the screen reader: loads the driver, answers its callbacks and runs
// a message loop on the thread that opened it.
#pragma once

#include "IBrailleDriver.h"

#include <string>
#include <vector>

class ScreenReaderHost : public IBrailleDriverCallbacks {
public:
    ScreenReaderHost();
    bool Load(const std::string& path);
    // Runs one command of the script; false stops the script.
    bool Run(const std::vector<std::string>& command);

    int ProcessBrailleCommandKeys(IBrailleDriver* pDriver, const char* szKeyComb, int nRoutingKey) override;
    int ProcessEncodedTypeKey(IBrailleDriver* pDriver, const BYTE* pRecord, int nLength) override;
    WORD DotsToChar(IBrailleDriver* pDriver, WORD woBrailleDots) override;

private:
    void PrintInfo();
    bool Open(const std::string& port);
    void Show(const std::string& text);
    void Pump(DWORD milliseconds);
    void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));

    IBrailleDriver* m_driver = nullptr;
    std::string m_driverPath;
    DWORD m_start;
    DWORD m_openThread = 0;
};
