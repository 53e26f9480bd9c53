// Keys arriving faster than anyone types, and the screen reader changing its
// mind while they arrive: closing, sleeping, replacing or clearing its
// callbacks.
#include "FaultSession.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace faults {
namespace {

int IndexOf(int press) { return 1 + press % 80; }

class KeyFloodTest : public FaultSession {
protected:
    void SetUp() override
    {
        FaultSession::SetUp();
        ASSERT_TRUE(Open());
        callbacks.Clear();
    }
    void TearDown() override
    {
        StopStream();
        FaultSession::TearDown();
    }
    // Routing presses from another thread, `batch` of them every 10 ms:
    // `count` in all on a fixed schedule, or (count 0) until stopped, never
    // catching up on a write the closed port held back.
    void StartStream(int batch, int count = 0)
    {
        m_stop = false;
        m_sent = 0;
        m_sender = std::thread([this, batch, count] {
            const DWORD start = GetTickCount();
            for (int round = 0; !m_stop && (count == 0 || m_sent < count); ++round) {
                std::vector<BYTE> bytes;
                for (int i = 0; i < batch; ++i) {
                    const auto press = RoutingPress(IndexOf(m_sent + i));
                    bytes.insert(bytes.end(), press.begin(), press.end());
                }
                if (display->SendRaw(bytes))
                    m_sent += batch;
                if (count == 0)
                    Sleep(10);
                else
                    testenv::SleepUntil(start, static_cast<DWORD>((round + 1) * 10));
            }
        });
    }
    void StopStream()
    {
        m_stop = true;
        if (m_sender.joinable())
            m_sender.join();
    }
    // Deliveries are routing keys whose indexes follow the pattern sent, one
    // press after the other, starting anywhere.
    static void ExpectInOrder(const std::vector<Delivery>& got, const char* who)
    {
        for (size_t i = 1; i < got.size(); ++i)
            if (got[i].routing != got[i - 1].routing % 80 + 1) {
                ADD_FAILURE() << who << ": routing " << got[i].routing << " after " << got[i - 1].routing
                              << " at delivery " << i;
                return;
            }
    }

    std::thread m_sender;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_sent{0};
};

TEST_F(KeyFloodTest, TenThousandRoutingPressesInOneSecondAllArriveInOrder)
{
    const int kPresses = 10000;
    Stopwatch watch;
    StartStream(kPresses / 100, kPresses);
    // Bytes posted to the window but not yet handled when the last was sent
    // (a figure only: Wine's queues have no limit, so a full queue cannot be
    // made here).
    size_t backlog = 0;
    PumpUntil(
        [&] {
            if (!backlog && m_sent >= kPresses)
                backlog = static_cast<size_t>(kPresses) * 8 - bytesHandled;
            return callbacks.Deliveries().size() >= static_cast<size_t>(kPresses);
        },
        60000);
    const DWORD deliveredMs = watch.Ms();
    StopStream();
    ASSERT_EQ(m_sent, kPresses) << "the simulator could not send them all";

    auto got = callbacks.Deliveries();
    ASSERT_EQ(got.size(), static_cast<size_t>(kPresses));
    for (int i = 0; i < kPresses; ++i)
        if (got[i].name != "Routing" || got[i].routing != IndexOf(i)) {
            ADD_FAILURE() << "delivery " << i << ": " << got[i].name << " " << got[i].routing;
            break;
        }
    EXPECT_EQ(bytesHandled, static_cast<size_t>(kPresses) * 8) << "bytes lost in the hand-off to the window";
    printf("[ figures  ] %d routing presses (%d bytes) sent in 1 s, all delivered after %lu ms; %zu bytes "
           "waiting for the window when the last was sent\n",
           kPresses, kPresses * 8, deliveredMs, backlog);

    // Nothing is left queued: the next press is the only new delivery.
    display->SendRaw(RoutingPress(42));
    got = Await(kPresses + 1);
    ASSERT_EQ(got.size(), static_cast<size_t>(kPresses) + 1);
    EXPECT_EQ(got.back().routing, 42);
}

// No key reaches the screen reader after Close or Sleep(TRUE) has returned
// (it may release its callbacks then), and keys come back after the wake.
// Presses sent while the port was closed may partly wait in the line and
// arrive after the wake; the stream that follows is whole again.
TEST_F(KeyFloodTest, CloseAndSleepWhileKeysArrive)
{
    StartStream(10);
    PumpUntil([&] { return callbacks.Deliveries().size() >= 200; }, 5000);
    Stopwatch watch;
    ASSERT_TRUE(driver->Sleep(TRUE));
    EXPECT_LT(watch.Ms(), kPromptMs);
    const size_t atSleep = callbacks.Deliveries().size();
    Pump(500);
    EXPECT_EQ(callbacks.Deliveries().size(), atSleep) << "keys delivered while asleep";

    ASSERT_TRUE(driver->Sleep(FALSE));
    const size_t atWake = callbacks.Deliveries().size();
    PumpUntil([&] { return callbacks.Deliveries().size() >= atWake + 300; }, 5000);
    auto got = callbacks.Deliveries();
    ASSERT_GE(got.size(), atWake + 300) << "keys do not come back after the wake";
    ExpectInOrder(std::vector<Delivery>(got.begin(), got.begin() + static_cast<long>(atSleep)), "before sleep");
    ExpectInOrder(std::vector<Delivery>(got.end() - 150, got.end()), "after wake");

    watch = Stopwatch();
    driver->Close();
    EXPECT_LT(watch.Ms(), kPromptMs);
    const size_t atClose = callbacks.Deliveries().size();
    Pump(500);
    EXPECT_EQ(callbacks.Deliveries().size(), atClose) << "keys delivered after Close";
    StopStream();

    // Presses the stream left in the line may come first, whole and in order;
    // the new press comes last.
    ASSERT_TRUE(Open()) << "a new session on the same port";
    callbacks.Clear();
    display->Press({T1});
    ASSERT_TRUE(PumpUntil([&] {
        for (const auto& d : callbacks.Deliveries())
            if (d.name == "T1")
                return true;
        return false;
    }, 5000)) << "no key after the new open";
    got = Await(callbacks.Deliveries().size());
    EXPECT_EQ(got.back().name, "T1");
    got.pop_back();
    ExpectInOrder(got, "left in the line");
}

// The screen reader replaces its callbacks, or clears them, while keys
// arrive: every key goes to the callbacks set at its delivery, none twice.
TEST_F(KeyFloodTest, CallbacksReplacedAndClearedWhileKeysArrive)
{
    RecordingCallbacks other;
    StartStream(10);
    PumpUntil([&] { return callbacks.Deliveries().size() >= 100; }, 5000);
    EXPECT_EQ(driver->SetCallbacks(&other), &callbacks);
    PumpUntil([&] { return other.Deliveries().size() >= 100; }, 5000);
    EXPECT_EQ(driver->SetCallbacks(nullptr), &other);
    Pump(300);
    EXPECT_EQ(driver->SetCallbacks(&callbacks), nullptr);
    const size_t before = callbacks.Deliveries().size();
    PumpUntil([&] { return callbacks.Deliveries().size() >= before + 100; }, 5000);
    StopStream();
    Pump(300);

    const auto mine = callbacks.Deliveries();
    const auto theirs = other.Deliveries();
    ASSERT_GE(theirs.size(), 100u);
    ASSERT_GE(mine.size(), before + 100);
    ExpectInOrder(std::vector<Delivery>(mine.begin(), mine.begin() + static_cast<long>(before)), "first callbacks");
    ExpectInOrder(theirs, "replacement");
    ExpectInOrder(std::vector<Delivery>(mine.begin() + static_cast<long>(before), mine.end()), "restored");
    EXPECT_EQ(theirs.front().routing, mine[before - 1].routing % 80 + 1) << "a key lost or doubled at the switch";
}

// Another thread of the screen reader clears the callbacks while keys are
// delivered (each 50th delivery waits for it), and this one restores them a
// few keys later: a key whose delivery begins after the clear returned
// reaches no callbacks, and no byte is lost meanwhile.
TEST_F(KeyFloodTest, CallbacksClearedFromAnotherThreadWhileKeysArrive)
{
    bool cleared = false;
    int seen = 0, clears = 0, reachedCleared = 0;
    size_t clearedAtByte = 0;
    callbacks.onDelivery = [&](const Delivery&) {
        if (cleared)
            ++reachedCleared;
        if (++seen % 50 == 0) {
            std::thread([&] { driver->SetCallbacks(nullptr); }).join();
            cleared = true;
            clearedAtByte = bytesHandled;
            ++clears;
        }
    };
    StartStream(20, 2000);
    PumpUntil([&] {
        if (cleared && bytesHandled >= clearedAtByte + 80) {
            cleared = false;
            driver->SetCallbacks(&callbacks);
        }
        return m_sent >= 2000 && bytesHandled >= 16000;
    }, 20000);
    StopStream();
    callbacks.onDelivery = nullptr;
    EXPECT_EQ(bytesHandled, 16000u);
    EXPECT_GE(clears, 1) << "no key arrived to clear the callbacks at";
    EXPECT_EQ(reachedCleared, 0) << "keys reached callbacks cleared before their delivery began";
}

}  // namespace
}  // namespace faults
