// The Cellivanta VK display: its wire protocol (frames 1B id length payload),
// the handshake, the cells frame, the key messages and the registry lookup of
// its USB virtual COM ports.
#pragma once

#include "CSerialBrailleDisplay.h"

#include <string>
#include <vector>

class CCellivantaDisplay : public CSerialBrailleDisplay {
public:
    enum CaptureGroup { CaptureNone = 0, CaptureD = 5, CaptureT = 6, CaptureC = 7 };

    CCellivantaDisplay();
    ~CCellivantaDisplay();

    bool SendInitRequest() override;
    void ProcessReceivedByte(BYTE byte) override;
    bool Refresh() override;

    /* 14 */ virtual bool GetUSBVirtualCOMPort(std::vector<std::string>& portNames);
    /* 15 */ virtual void ProcessDeviceMessage(int messageId, const BYTE* payload);
    /* 16 */ virtual bool ProcessInitRespMsg(BYTE EE, BYTE MM, BYTE NN);
    /* 17 */ virtual bool ProcessKeyDownMsg(BYTE keyCode);
    /* 18 */ virtual bool ProcessKeyUpMsg(BYTE keyCode);
    /* 19 */ virtual void EnqueueKeyCombination();

protected:
    int m_nMM = 0;
    // Key capture state (see driver/keys).
    BYTE m_keyPressed[256] = {};
    BYTE m_keyInCombination[256] = {};
    int m_captureGroup = CaptureNone;
};
