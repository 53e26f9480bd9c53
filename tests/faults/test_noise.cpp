// Line noise from the display: a million random bytes with real key frames
// mixed in. The driver must neither crash nor hang nor grow, and once the
// line has been quiet for a moment the display must work as before: the
// user's keys arrive as pressed, and lines are shown on all the cells.
#include "FaultSession.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

namespace faults {
namespace {

const size_t kNoiseBytes = 1000000;
const int kBursts = 4;  // each followed by a quiet moment and a check
const size_t kChunk = 2000;
// Bytes per second asked of the line: about twice what a 115200 baud line
// carries, as a USB display (which knows no baud rate) could send, and
// about what the hand-off of one window message per byte takes under Wine.
const size_t kPace = 25000;
const DWORD kQuietMs = 1000;
// Any allocation kept per received byte would show as many megabytes; Wine's
// own serial wait keeps a few hundred bytes per call, some 15 KB a second
// while a port is open, which this bound leaves room for.
const SIZE_T kGrowthBound = 4 * 1024 * 1024;

class NoiseTest : public FaultSession {
protected:
    // Sends one burst from another thread while this thread pumps (the
    // hidden window belongs to it); returns the bytes sent.
    size_t SendBurst(std::mt19937& rng, size_t bytes, int& pressesMixedIn)
    {
        std::atomic<bool> done{false};
        size_t sent = 0;
        std::thread sender([&] {
            const DWORD start = GetTickCount();
            std::vector<BYTE> chunk;
            for (size_t off = 0; off < bytes; off += kChunk) {
                chunk.resize(kChunk);
                for (BYTE& b : chunk)
                    b = static_cast<BYTE>(rng());
                const auto press = RoutingPress(1 + pressesMixedIn++ % 80);
                chunk.insert(chunk.begin() + static_cast<long>(rng() % kChunk), press.begin(), press.end());
                if (display->SendRaw(chunk))
                    sent += chunk.size();
                testenv::SleepUntil(start, static_cast<DWORD>((off + kChunk) * 1000 / kPace));
            }
            done = true;
        });
        while (!done)
            Pump(20);
        sender.join();
        return sent;
    }

    // After a quiet moment the display works as before.
    void ExpectDisplayWorks(int round)
    {
        SCOPED_TRACE("after burst " + std::to_string(round));
        Pump(kQuietMs);
        callbacks.Clear();
        display->Press({T1});
        display->SendRaw(RoutingPress(7));
        display->Press({D1});
        const auto got = Await(3);
        ASSERT_EQ(got.size(), 3u) << "keys lost or invented after the noise";
        EXPECT_EQ(got[0].name, "T1");
        EXPECT_EQ(got[1].name, "Routing");
        EXPECT_EQ(got[1].routing, 7);
        EXPECT_EQ(got[2].kind, Delivery::Typed);
        EXPECT_EQ(got[2].name, "a");

        display->ClearFrames();
        const std::string line(40, static_cast<char>(0x10 + round));
        ASSERT_TRUE(driver->ShowText(line.data(), 40));
        ASSERT_TRUE(display->WaitForFrames(1, 2000)) << "nothing shown after the noise";
        const auto frames = CellFrames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].payload, std::vector<BYTE>(line.begin(), line.end())) << "the display's geometry changed";
        EXPECT_EQ(driver->GetTextCellCount(), 40);
    }
};

TEST_F(NoiseTest, AMillionRandomBytesLeaveTheDisplayWorking)
{
    ASSERT_TRUE(Open());
    ExpectDisplayWorks(0);  // also warms up what a session allocates once
    const SIZE_T baseline = PrivateBytes();

    std::mt19937 rng(20240601);
    int pressesMixedIn = 0;
    size_t noiseDeliveries = 0;
    DWORD noiseMs = 0;
    for (int round = 1; round <= kBursts; ++round) {
        callbacks.Clear();
        const size_t handledBefore = bytesHandled;
        Stopwatch watch;
        const size_t sent = SendBurst(rng, kNoiseBytes / kBursts, pressesMixedIn);
        PumpUntil([&] { return bytesHandled - handledBefore >= sent; }, 60000);
        noiseMs += watch.Ms();
        // A write the simulator reports failed (a slow line) may still have gone
        // out in part: more may arrive than was counted, never fewer.
        EXPECT_GE(bytesHandled - handledBefore, sent) << "bytes lost in the hand-off to the window";
        noiseDeliveries += callbacks.Deliveries().size();
        ExpectDisplayWorks(round);
    }
    const SIZE_T after = PrivateBytes();
    printf("[ figures  ] %zu bytes of noise handled in %lu ms (%.1f KB/s); %d key presses mixed in, %zu "
           "deliveries during the noise; private bytes %zu KB -> %zu KB\n",
           kNoiseBytes, noiseMs, kNoiseBytes / 1024.0 / (noiseMs / 1000.0), pressesMixedIn, noiseDeliveries,
           baseline / 1024, after / 1024);
    EXPECT_LT(after, baseline + kGrowthBound) << "memory grew with the noise";
}

}  // namespace
}  // namespace faults
