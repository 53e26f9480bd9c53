// The display protocol class with its key handlers replaced by a recorder,
// so that tests see exactly which key messages the assembler dispatched.
#pragma once

#include "link/CCellivantaDisplay.h"

#include <initializer_list>
#include <string>
#include <vector>

class RecordingDisplay : public CCellivantaDisplay {
public:
    ~RecordingDisplay()
    {
        if (IsConnected())
            Disconnect();
    }

    bool ProcessKeyDownMsg(BYTE keyCode) override
    {
        m_keys.push_back("D" + Hex(keyCode));
        return true;
    }
    bool ProcessKeyUpMsg(BYTE keyCode) override
    {
        m_keys.push_back("U" + Hex(keyCode));
        return true;
    }
    void ProcessDeviceMessage(int messageId, const BYTE* payload) override
    {
        m_messageIds.push_back(messageId);
        CCellivantaDisplay::ProcessDeviceMessage(messageId, payload);
    }

    // Key messages in order: "D22" for a key down of 0x22, "U22" for its key up.
    const std::vector<std::string>& Keys() const { return m_keys; }
    const std::vector<int>& MessageIds() const { return m_messageIds; }
    void ClearRecord()
    {
        m_keys.clear();
        m_messageIds.clear();
    }

    void Feed(std::initializer_list<BYTE> bytes)
    {
        for (BYTE byte : bytes)
            ProcessReceivedByte(byte);
    }

    int MM() const { return m_nMM; }
    int CellCount() const { return m_nCellCount; }
    CSerialCommHelper& Serial() { return m_serial; }
    static void ResetAssembler() { ResetFrameAssembler(); }

private:
    static std::string Hex(BYTE value)
    {
        static const char digits[] = "0123456789ABCDEF";
        return {digits[value >> 4], digits[value & 0x0F]};
    }

    std::vector<std::string> m_keys;
    std::vector<int> m_messageIds;
};
