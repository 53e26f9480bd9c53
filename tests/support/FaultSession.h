// The one fixture of a screen reader's session with the loaded VK.JLB: the
// driver opened on a simulated display, a message pump that counts the bytes
// the hidden window handled, and what the process uses. Every test starts
// with the library's one driver closed (whatever the test before left open)
// and a display that answers 0, 0, 40; an Open starts the frame assembler and
// the held keys afresh.
#pragma once

#include "DriverSession.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace faults {

using namespace keycode;

using keycode::RoutingPress;

using testenv::PrivateBytes;
using testenv::Stopwatch;

// A call that must return promptly: far above its figure (`make bench`),
// below the driver's 5 s wait for its braille thread, which a hang runs into.
const DWORD kPromptMs = 4000;

// Sleep(TRUE), Sleep(FALSE) and Close, timed in that order: each must have
// returned promptly; the figures are printed for the reader.
void ExpectPromptCalls(const DWORD (&took)[3], const char* when);

// A port arrived: the driver's hidden window is told so, as Windows tells it.
void AnnouncePortArrival();

class FaultSession : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    bool Open(int pair = 1);
    // Opens on any port name ("usb", "COM99", ...), with the driver's path
    // (its folder holds the key map) when given.
    bool OpenOn(const std::string& port, const std::string& driverPath = "");
    // Pumps this thread's messages like PumpMessages, counting the received
    // bytes that reached the hidden window.
    void Pump(DWORD milliseconds);
    template <typename Pred>
    bool PumpUntil(Pred pred, DWORD timeoutMs)
    {
        return testenv::WaitFor(pred, timeoutMs, [this](DWORD ms) { Pump(ms); });
    }
    // Waits until the hidden window handled n received bytes in all and then
    // ran the key queue, so that every key those bytes made was delivered or
    // dropped.
    bool AwaitBytesHandled(size_t n, DWORD timeoutMs = 5000);
    // Waits for n deliveries in all, then a little longer for any extra.
    std::vector<Delivery> Await(size_t n, DWORD timeoutMs = 3000);
    // Cell frames (id 2) the display received since its frames were cleared.
    std::vector<DisplaySimulator::Frame> CellFrames() const;
    // Waits, pumping, until the display holds at least n cell frames.
    bool AwaitCellFrames(size_t n, DWORD timeoutMs = 5000);

    IBrailleDriver* driver = nullptr;
    RecordingCallbacks callbacks;
    std::unique_ptr<DisplaySimulator> display;
    size_t bytesHandled = 0;

private:
    size_t m_queueRunsSinceByte = 0;
};

}  // namespace faults
