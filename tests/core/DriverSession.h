// A screen reader's session with the loaded VK.JLB against the display
// simulator: callbacks that record what the driver delivers, on which thread.
#pragma once

#include "DisplaySimulator.h"
#include "TestEnv.h"

#include <windows.h>
#include <mutex>
#include <string>
#include <vector>

struct Delivery {
    enum Kind { Command, Typed } kind;
    std::string name;  // command name, or the typed character
    int routing = 0;
    DWORD threadId = 0;
};

class RecordingCallbacks : public IBrailleDriverCallbacks {
public:
    int ProcessBrailleCommandKeys(IBrailleDriver* pDriver, const char* szKeyComb, int nRoutingKey) override;
    int ProcessEncodedTypeKey(IBrailleDriver* pDriver, const BYTE* pRecord, int nLength) override;
    WORD DotsToChar(IBrailleDriver* pDriver, WORD woBrailleDots) override;

    std::vector<Delivery> Deliveries();
    std::vector<WORD> DotsAsked();
    void Clear();

    int typedResult = 1;  // what ProcessEncodedTypeKey answers
    std::vector<BYTE> lastRecord;

private:
    std::mutex m_mutex;
    std::vector<Delivery> m_deliveries;
    std::vector<WORD> m_dotsAsked;
};

// Registers the display's USB instances (name -> port) in the 64-bit registry
// view for the life of the object.
class UsbRegistration {
public:
    explicit UsbRegistration(const std::vector<std::pair<std::string, std::string>>& instances);
    ~UsbRegistration();
};

using testenv::PumpMessages;
using testenv::PumpUntil;

int ThreadCountOfProcess();
