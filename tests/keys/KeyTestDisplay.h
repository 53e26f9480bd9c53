// A display object whose key handlers are driven by hand and whose queue can
// be filled and read directly.
#pragma once

#include "keys/CCellivantaKeyCombination.h"
#include "link/CCellivantaDisplay.h"

#include <ostream>
#include <string>
#include <vector>

namespace keytest {

// Key codes as the display sends them.
inline BYTE D(int n) { return static_cast<BYTE>(n + 1); }   // D1..D9
inline BYTE C(int n) { return static_cast<BYTE>(n + 10); }  // C1..C6
inline BYTE T(int n) { return static_cast<BYTE>(n + 16); }  // T1..T4
inline BYTE R(int index) { return static_cast<BYTE>(index + 79); }  // routing 1..80

// Bit sets of the record fields.
inline DWORD Dots(std::initializer_list<int> keys)
{
    DWORD bits = 0;
    for (int n : keys)
        bits |= 1u << (n - 1);
    return bits;
}

struct Keys {
    DWORD d = 0, t = 0, c = 0, routing = 0, statusRouting = 0;
    bool operator==(const Keys& o) const
    {
        return d == o.d && t == o.t && c == o.c && routing == o.routing && statusRouting == o.statusRouting;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Keys& k)
{
    return os << "{d=" << k.d << " t=" << k.t << " c=" << k.c << " routing=" << k.routing
              << " status=" << k.statusRouting << "}";
}

class KeyTestDisplay : public CCellivantaDisplay {
public:
    void Press(BYTE code) { ProcessKeyDownMsg(code); }
    void Release(BYTE code) { ProcessKeyUpMsg(code); }
    void Tap(BYTE code) { Press(code), Release(code); }

    // Takes every queued record off, oldest first.
    std::vector<Keys> TakeRecords()
    {
        std::vector<Keys> records;
        for (auto& record : m_keyCombinationQueue) {
            auto* r = static_cast<CCellivantaKeyCombination*>(record.get());
            records.push_back({r->m_dKeys, r->m_tKeys, r->m_cKeys, r->m_routingKey, r->m_statusRoutingKey});
        }
        m_keyCombinationQueue.clear();
        return records;
    }

    void Push(const Keys& keys)
    {
        std::unique_ptr<CCellivantaKeyCombination> record(new CCellivantaKeyCombination);
        record->SetDKeys(keys.d);
        record->SetTKeys(keys.t);
        record->SetCKeys(keys.c);
        record->SetRoutingKey(keys.routing);
        m_keyCombinationQueue.push_back(std::move(record));
    }

    size_t QueueSize() const { return m_keyCombinationQueue.size(); }
};

}  // namespace keytest
