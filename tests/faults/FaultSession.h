// A screen reader's session with the loaded VK.JLB for the fault tests: the
// driver opened on a simulated display, a message pump that counts the bytes
// the hidden window handled, and what the process uses.
#pragma once

#include "DriverSession.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace faults {

using namespace keycode;

// A routing press as the display sends it: key down then key up.
std::vector<BYTE> RoutingPress(int index);

using testenv::PrivateBytes;
using testenv::Stopwatch;

// A call that must return promptly: far above its figure (`make bench`),
// below the driver's 5 s wait for its braille thread, which a hang runs into.
const DWORD kPromptMs = 4000;

// Sleep(TRUE), Sleep(FALSE) and Close, timed in that order: each must have
// returned promptly; the figures are printed for the reader.
void ExpectPromptCalls(const DWORD (&took)[3], const char* when);

class FaultSession : public ::testing::Test {
protected:
    static const UINT kDeviceByte = WM_USER + 12;

    void SetUp() override;
    void TearDown() override;

    bool Open(int pair = 1);
    // Pumps this thread's messages like PumpMessages, counting the received
    // bytes that reached the hidden window.
    void Pump(DWORD milliseconds);
    template <typename Pred>
    bool PumpUntil(Pred pred, DWORD timeoutMs)
    {
        return testenv::WaitFor(pred, timeoutMs, [this](DWORD ms) { Pump(ms); });
    }
    // Waits for n deliveries in all, then a little longer for any extra.
    std::vector<Delivery> Await(size_t n, DWORD timeoutMs = 3000);
    // Cell frames (id 2) the display received since its frames were cleared.
    std::vector<DisplaySimulator::Frame> CellFrames() const;

    IBrailleDriver* driver = nullptr;
    RecordingCallbacks callbacks;
    std::unique_ptr<DisplaySimulator> display;
    size_t bytesHandled = 0;
};

}  // namespace faults
