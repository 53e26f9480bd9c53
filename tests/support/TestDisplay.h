// The display class opened up for tests: its key messages are recorded (and
// passed on to the key capture unless the handlers only record), its key
// queue can be filled and read directly, and its protected state is shown.
#pragma once

#include "DriverEnv.h"
#include "keys/CCellivantaKeyCombination.h"
#include "link/CCellivantaDisplay.h"

#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

namespace keytest {

using namespace keycode;

// Bit sets of the record fields.
inline DWORD Dots(std::initializer_list<int> keys)
{
    DWORD bits = 0;
    for (int n : keys)
        bits |= 1u << (n - 1);
    return bits;
}

struct Keys {
    DWORD d = 0, t = 0, c = 0, routing = 0;
    bool operator==(const Keys& o) const
    {
        return d == o.d && t == o.t && c == o.c && routing == o.routing;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Keys& k)
{
    return os << "{d=" << k.d << " t=" << k.t << " c=" << k.c << " routing=" << k.routing << "}";
}

inline Keys Chord(DWORD d, DWORD t = 0, DWORD c = 0, DWORD routing = 0)
{
    Keys k;
    k.d = d, k.t = t, k.c = c, k.routing = routing;
    return k;
}

}  // namespace keytest

class TestDisplay : public CCellivantaDisplay {
public:
    enum KeyHandlers { Capture, RecordOnly };
    explicit TestDisplay(KeyHandlers handlers = Capture) : m_capture(handlers == Capture) {}
    ~TestDisplay()
    {
        if (IsConnected())
            Disconnect();
    }

    bool ProcessKeyDownMsg(BYTE keyCode) override
    {
        m_keys.push_back("D" + Hex(keyCode));
        return m_capture ? CCellivantaDisplay::ProcessKeyDownMsg(keyCode) : true;
    }
    bool ProcessKeyUpMsg(BYTE keyCode) override
    {
        m_keys.push_back("U" + Hex(keyCode));
        return m_capture ? CCellivantaDisplay::ProcessKeyUpMsg(keyCode) : true;
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

    // Bytes as if read from the port.
    void Feed(std::initializer_list<BYTE> bytes)
    {
        for (BYTE byte : bytes)
            ProcessReceivedByte(byte);
    }
    // What the braille thread does: request, then poll for the answer.
    bool Handshake(DWORD timeoutMs = 1000)
    {
        int text = 0, status = 0;
        return SendInitRequest() && testenv::WaitFor([&] {
                   ProcessReceivedData();
                   return GetDisplayInfos(text, status);
               }, timeoutMs);
    }

    // Key handlers driven by hand.
    void Press(BYTE code) { ProcessKeyDownMsg(code); }
    void Release(BYTE code) { ProcessKeyUpMsg(code); }
    void Tap(BYTE code) { Press(code), Release(code); }

    // Takes every queued record off, oldest first.
    std::vector<keytest::Keys> TakeRecords()
    {
        std::vector<keytest::Keys> records;
        for (auto& record : m_keyCombinationQueue) {
            auto* r = static_cast<CCellivantaKeyCombination*>(record.get());
            records.push_back({r->m_dKeys, r->m_tKeys, r->m_cKeys, r->m_routingKey});
        }
        m_keyCombinationQueue.clear();
        return records;
    }

    void Push(const keytest::Keys& keys)
    {
        std::unique_ptr<CCellivantaKeyCombination> record(new CCellivantaKeyCombination);
        record->SetDKeys(keys.d);
        record->SetTKeys(keys.t);
        record->SetCKeys(keys.c);
        record->SetRoutingKey(keys.routing);
        m_keyCombinationQueue.push_back(std::move(record));
    }

    size_t QueueSize() const { return m_keyCombinationQueue.size(); }
    int CellCount() const { return m_nCellCount; }
    CSerialCommHelper& Serial() { return m_serial; }
    static void ResetAssembler() { ResetFrameAssembler(); }

private:
    static std::string Hex(BYTE value)
    {
        static const char digits[] = "0123456789ABCDEF";
        return {digits[value >> 4], digits[value & 0x0F]};
    }

    const bool m_capture;
    std::vector<std::string> m_keys;
    std::vector<int> m_messageIds;
};
