// What the tests of the 64-bit tree add to TestEnv.h: the port pairs, the
// driver loaded as the screen reader loads it, its trace lines, the display's
// key codes and callbacks that record what the driver delivers.
#pragma once

#include "TestEnv.h"
#include "PortPairs.h"
#include "core/IBrailleDriver.h"
#include "link/CellivantaKeyCodes.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testenv {

using portpairs::DisplayPort;
using portpairs::DriverPort;
using portpairs::kPairCount;
using portpairs::ReplugPair;
using portpairs::UnplugPair;
using portpairs::PairsOption;

// Why no cable can be pulled in this run (no port manager: a null-modem
// driver's pairs stay plugged); empty when one can.
std::string WhyNoPulls();

// The driver as the screen reader gets it: VK.JLB loaded by name.
IBrailleDriver* LoadDriver();

// Collects the driver's trace lines while alive (for code linked into the test).
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    std::vector<std::string> Lines() const;
    bool Contains(const std::string& text) const;
    // How many lines contain text.
    int Count(const std::string& text) const;
};

}  // namespace testenv

// Key codes as the display sends them: D(1)..D(9) or D1..D9, C1..C6, T1..T4,
// routing keys R(1)..R(80).
namespace keycode {
constexpr BYTE D(int n) { return static_cast<BYTE>(CellivantaKeyCodes::kFirstD + n - 1); }
constexpr BYTE C(int n) { return static_cast<BYTE>(CellivantaKeyCodes::kFirstC + n - 1); }
constexpr BYTE T(int n) { return static_cast<BYTE>(CellivantaKeyCodes::kFirstT + n - 1); }
constexpr BYTE R(int index) { return static_cast<BYTE>(CellivantaKeyCodes::kFirstRouting + index - 1); }
constexpr BYTE D1 = D(1), D2 = D(2), D3 = D(3), D4 = D(4), D5 = D(5), D6 = D(6), D7 = D(7), D8 = D(8), D9 = D(9);
constexpr BYTE C1 = C(1), C2 = C(2), C3 = C(3), C4 = C(4), C5 = C(5), C6 = C(6);
constexpr BYTE T1 = T(1), T2 = T(2), T3 = T(3), T4 = T(4);

// Frames the display sends for its keys.
constexpr BYTE kKeyDownFrame = 5, kKeyUpFrame = 6;
inline std::vector<BYTE> KeyFrame(BYTE id, BYTE code) { return {0x1B, id, 0x01, code}; }
// A routing press: key down then key up.
std::vector<BYTE> RoutingPress(int index);
// Key codes of a chord written as a key map names it: "D1+D9+C1".
std::vector<BYTE> ChordCodes(const std::string& chord);
}  // namespace keycode

// One key the driver handed to the screen reader.
struct Delivery {
    enum Kind { Command, Typed } kind;
    std::string name;  // command name, or the typed character
    int routing = 0;
    DWORD threadId = 0;
    double ms = 0;  // when it came, on the callbacks' clock
};

// The screen reader's callbacks: each delivery and each dot pattern asked for
// is kept (unless keep is off, for a long session that must not grow) and
// shown to onDelivery; the first braille row reads as a to j.
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
    testenv::Stopwatch clock;
    bool keep = true;
    std::function<void(const Delivery&)> onDelivery;

private:
    void Record(const Delivery& delivery);

    std::mutex m_mutex;
    std::vector<Delivery> m_deliveries;
    std::vector<WORD> m_dotsAsked;
};
