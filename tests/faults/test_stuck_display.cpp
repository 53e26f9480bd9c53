// A display that stops reading (its input stuck, a hub stalling) while the
// screen reader goes on giving lines, and a port that fails right after a
// key: the driver is linked in and runs on the scripted port, where a write
// can be left pending until it is cancelled.
#include "CBrailleDisplayDriver.h"
#include "FaultSession.h"
#include "ScriptedSerialPort.h"

#include <atomic>
#include <thread>

namespace faults {
namespace {

const int kCells = 40;
const std::string kInitResponse = {0x1B, 0x01, 0x03, 0x00, 0x00, kCells};

std::string Line(int n)
{
    std::string cells(kCells, static_cast<char>(n & 0x3F));
    cells[0] = static_cast<char>(n & 0xFF);
    cells[1] = static_cast<char>(n >> 8);
    return cells;
}

class StuckDisplayTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        port.writesStall = false;
        driver.Close();
    }

    bool Open()
    {
        std::thread display([this] {
            if (testenv::WaitFor([this] { return port.Sent().find("\x1B\x00\x00", 0, 3) != std::string::npos; },
                                 kPromptMs))
                port.Receive(kInitResponse);
        });
        const BOOL opened = driver.Open("COM9", &callbacks, "Cellivanta VK", "C:\\VK\\VK.JLB");
        display.join();
        return opened == TRUE;
    }

    // The cells of every line frame the display took, in order.
    std::vector<std::string> Shown()
    {
        const std::string sent = port.Sent();
        const std::string head = {0x1B, 0x02, kCells};
        std::vector<std::string> lines;
        for (size_t at = sent.find(head); at != std::string::npos; at = sent.find(head, at + 3 + kCells))
            lines.push_back(sent.substr(at + 3, kCells));
        return lines;
    }
    // Lines given to a display that stopped reading, until the braille
    // thread has found it so.
    void GiveLinesStuck(int first, int count)
    {
        const int before = trace.Count(kNotTaken);
        port.writesStall = true;
        GiveLines(first, count);
        EXPECT_TRUE(testenv::PumpUntil([&] { return trace.Count(kNotTaken) > before; }, kPromptMs))
            << "the display never seemed stuck";
    }
    bool AwaitLastShown(const std::string& line)
    {
        return testenv::PumpUntil([&] { return !Shown().empty() && Shown().back() == line; }, kPromptMs);
    }

    void GiveLines(int first, int count)
    {
        for (int n = first; n < first + count; ++n)
            driver.ShowText(Line(n).data(), kCells);
    }

    // Runs a call on another thread while this one serves the hidden
    // window; the time it took, or kPromptMs when it had not returned by
    // then (the display then reads again, so that it does return).
    DWORD Timed(const std::function<void()>& call)
    {
        std::atomic<bool> done{false};
        Stopwatch clock;
        std::thread caller([&] {
            call();
            done = true;
        });
        const bool returned = testenv::PumpUntil([&] { return done.load(); }, kPromptMs);
        const DWORD took = returned ? static_cast<DWORD>(clock.Ms()) : kPromptMs;
        port.writesStall = false;
        while (!done)
            testenv::PumpMessages(10);
        caller.join();
        return took;
    }

    static constexpr const char* kNotTaken = "the display did not take the line";
    testenv::TraceCapture trace;
    testenv::ScriptedPort port;
    CBrailleDisplayDriver driver;
    RecordingCallbacks callbacks;
};

// Every line reaches a display that keeps up, in order. A line the display
// did not take is sent again by itself once it reads again. With the
// display stuck and a thousand lines given, Sleep and Close return at once
// (each line would otherwise wait for its write to time out), and the line
// the display shows when it reads again, or after a wake, is the newest.
TEST_F(StuckDisplayTest, CallsStayPromptAndTheNewestLineArrivesWhenTheDisplayReadsAgain)
{
    ASSERT_TRUE(Open());
    GiveLines(0, 5);
    ASSERT_TRUE(AwaitLastShown(Line(4)));
    EXPECT_EQ(Shown(), (std::vector<std::string>{Line(0), Line(1), Line(2), Line(3), Line(4)}));

    GiveLinesStuck(10, 1);
    port.writesStall = false;
    EXPECT_TRUE(AwaitLastShown(Line(10))) << "a line the display did not take is never sent again";

    GiveLinesStuck(100, 1000);
    port.writesStall = false;
    EXPECT_TRUE(AwaitLastShown(Line(1099))) << "after the display read again";

    port.writesStall = true;
    GiveLines(2000, 1000);
    DWORD took[3] = {};
    took[0] = Timed([&] { driver.Sleep(TRUE); });
    took[1] = Timed([&] { driver.Sleep(FALSE); });
    EXPECT_TRUE(AwaitLastShown(Line(2999))) << "after the wake";

    port.writesStall = true;
    GiveLines(4000, 1000);
    took[2] = Timed([&] { driver.Close(); });
    ExpectPromptCalls(took, "display stuck, 1000 lines given");
}

// The worker reads a key, then the port fails: the key still reaches the
// screen reader before the connection goes.
TEST_F(StuckDisplayTest, TheLastKeyBeforeAPortFailureArrives)
{
    ASSERT_TRUE(Open());
    const std::vector<BYTE> press = RoutingPress(3);
    port.failReadAfter = kInitResponse.size() + press.size();
    port.Receive(std::string(press.begin(), press.end()) + "\x1B");
    ASSERT_TRUE(testenv::PumpUntil([&] { return !callbacks.Deliveries().empty(); }, kPromptMs))
        << "the key went with the connection";
    EXPECT_EQ(callbacks.Deliveries().at(0).routing, 3);
}

}  // namespace
}  // namespace faults
