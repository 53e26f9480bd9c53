// A display that stops reading (its input stuck, a hub stalling) while the
// screen reader goes on giving lines, a port that fails right after a key,
// and a hidden window whose thread takes no posts or is gone: the driver is
// linked in and runs on the scripted port, where a write can be left pending
// until it is cancelled and bytes arrive as fast as a test gives them.
#include "CBrailleDisplayDriver.h"
#include "FaultSession.h"
#include "ScriptedSerialPort.h"

#include <atomic>
#include <map>
#include <thread>

namespace faults {
namespace {

const int kCells = 40;
const std::string kInitResponse = {0x1B, 0x01, 0x03, 0x00, 0x00, kCells};

// Posts to the hidden window: refused once postsLeft reaches 0, as a full
// message queue refuses them (-1: never refused).
std::atomic<int> g_postsLeft{-1};
BOOL WINAPI RefusingPost(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    int left = g_postsLeft;
    while (left > 0 && !g_postsLeft.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 0) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return PostMessageA(hWnd, uMsg, wParam, lParam);
}

// Runs of the key queue the braille thread posts: refused while runsRefused
// is above 0, one less each time, as a queue that is full just then.
std::atomic<int> g_runsRefused{0};
BOOL WINAPI RefusingRuns(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == CBrailleDisplayDriver::WM_PROCESS_KEY_QUEUE && wParam && g_runsRefused > 0) {
        --g_runsRefused;
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    return PostMessageA(hWnd, uMsg, wParam, lParam);
}

// Opens of the port: the next busyOpens are refused as a port another
// program holds for a moment is; the rest go to the scripted port.
std::atomic<int> g_busyOpens{0};
CSerialCommHelper::OpenPortFn g_scriptedOpen = nullptr;
HANDLE BusyOpen(const char* devicePath)
{
    if (g_busyOpens > 0) {
        --g_busyOpens;
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return g_scriptedOpen(devicePath);
}

// The resets of the system's idle timer (a call with other flags counts 100).
std::atomic<int> g_keptAwake{0};
EXECUTION_STATE WINAPI CountingKeepAwake(EXECUTION_STATE flags)
{
    return g_keptAwake += flags == ES_SYSTEM_REQUIRED ? 1 : 100;
}

std::string Bytes(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Press(std::initializer_list<BYTE> codes)
{
    std::string frames;
    for (BYTE code : codes)
        frames += Bytes(KeyFrame(kKeyDownFrame, code));
    for (BYTE code : codes)
        frames += Bytes(KeyFrame(kKeyUpFrame, code));
    return frames;
}

// Bytes outside any frame (no start byte among them).
std::string Noise(size_t count)
{
    std::string noise(count, '\0');
    for (size_t i = 0; i < count; ++i)
        noise[i] = static_cast<char>(0x20 + i % 0x5F);
    return noise;
}

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
        g_postsLeft = -1;
        g_runsRefused = 0;
        CBrailleDisplayDriver::s_postToWindow = PostMessageA;
        CBrailleDisplayDriver::s_keepSystemAwake = SetThreadExecutionState;
        driver.Close();
    }

    size_t InitRequests()
    {
        const std::string sent = port.Sent();
        size_t count = 0;
        for (size_t at = sent.find(kInitRequest); at != std::string::npos; at = sent.find(kInitRequest, at + 3))
            ++count;
        return count;
    }
    // The display answers the next init request (within waitMs); the
    // calling thread handles no message meanwhile.
    bool AnswerInitRequest(size_t before, DWORD waitMs)
    {
        if (!testenv::WaitFor([&] { return InitRequests() > before; }, waitMs))
            return false;
        port.Receive(kInitResponse);
        return true;
    }

    bool Open()
    {
        std::thread display = AnswerTheNextInitRequest();
        const BOOL opened = driver.Open("COM9", &callbacks, "Cellivanta VK", "C:\\VK\\VK.JLB");
        display.join();
        return opened == TRUE;
    }
    // The display's side of a handshake to come.
    std::thread AnswerTheNextInitRequest()
    {
        const size_t sent = port.Sent().size();
        return std::thread([this, sent] {
            if (testenv::WaitFor([&] { return port.Sent().find("\x1B\x00\x00", sent, 3) != std::string::npos; },
                                 kPromptMs))
                port.Receive(kInitResponse);
        });
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
    const std::string kInitRequest = std::string("\x1B\x00\x00", 3);
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
    EXPECT_TRUE(trace.Contains("the blank frame could not be queued")) << "a display left with text, silently";
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

// The window's thread takes no posts for a while (its queue full) during
// 12,000 bytes of noise and four presses: no byte is lost, the presses
// arrive in order once it takes posts again, and the next letter is right.
// Each key delivered keeps the PC awake.
TEST_F(StuckDisplayTest, BytesWaitForAWindowThatRefusesPosts)
{
    ASSERT_TRUE(Open());
    CBrailleDisplayDriver::s_postToWindow = RefusingPost;
    CBrailleDisplayDriver::s_keepSystemAwake = CountingKeepAwake;
    g_keptAwake = 0;
    g_postsLeft = 3;
    for (int chunk = 0; chunk < 12; ++chunk) {  // each its own read, its own round
        port.Receive(Noise(1000));
        testenv::PumpUntil([&] { return port.InputEmpty(); }, kPromptMs);
        testenv::PumpMessages(150);
    }
    port.Receive(Press({T1}) + Press({T2}) + Press({T3}) + Press({T4}));
    testenv::PumpMessages(300);
    EXPECT_GT(trace.Count("to the hidden window failed"), 0) << "no post was refused";
    g_postsLeft = -1;
    port.Receive(Press({D1}));
    ASSERT_TRUE(testenv::PumpUntil([&] { return callbacks.Deliveries().size() >= 5; }, kPromptMs))
        << callbacks.Deliveries().size() << " of 5 keys arrived";
    const std::vector<Delivery> keys = callbacks.Deliveries();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(keys.at(t).name, "T" + std::to_string(t + 1));
    EXPECT_EQ(keys.at(4).kind, Delivery::Typed);
    EXPECT_EQ(keys.at(4).name, "a");
    EXPECT_EQ(g_keptAwake, 5) << "each key resets the system's idle timer, and only that (no ES_CONTINUOUS, screen)";
}

// A key after 600 ms of quiet whose queue run is refused twice (the
// window's queue full just then) still arrives at the next tick, not with
// the next key.
TEST_F(StuckDisplayTest, AKeyWhoseRunWasRefusedTwiceArrivesAlone)
{
    ASSERT_TRUE(Open());
    testenv::PumpMessages(600);
    CBrailleDisplayDriver::s_postToWindow = RefusingRuns;
    g_runsRefused = 2;
    port.Receive(Press({T2}));
    EXPECT_TRUE(testenv::PumpUntil([&] { return !callbacks.Deliveries().empty(); }, 1500))
        << "the key waits for the next one";
    EXPECT_EQ(g_runsRefused.load(), 0) << "the runs were not refused";
}

// The port fails and the display comes back while the window's thread
// handles no message for seconds: the handshake and the newest line reach
// the display all the same, one retry period and a handshake later; the
// key held before the failure is forgotten once the thread pumps again.
TEST_F(StuckDisplayTest, TheDisplayComesBackWhileTheWindowsThreadHandlesNoMessage)
{
    ASSERT_TRUE(Open());
    GiveLines(1, 1);
    ASSERT_TRUE(AwaitLastShown(Line(1)));
    port.Receive(Bytes(KeyFrame(kKeyDownFrame, D1)));
    testenv::PumpMessages(300);
    const size_t requests = InitRequests();
    port.FailPendingRead(ERROR_GEN_FAILURE);
    GiveLines(2, 1);
    ASSERT_TRUE(AnswerInitRequest(requests, CBrailleDisplayDriver::kRetryPeriodMs + kPromptMs))
        << "no handshake while the window's thread is busy";
    EXPECT_TRUE(testenv::WaitFor([&] { return !Shown().empty() && Shown().back() == Line(2); }, kPromptMs))
        << "the newest line did not come back";
    port.Receive(Press({T3}));
    ASSERT_TRUE(testenv::PumpUntil([&] { return !callbacks.Deliveries().empty(); }, kPromptMs));
    EXPECT_EQ(callbacks.Deliveries().at(0).name, "T3") << "D1 was still held";
}

// A second thread runs the key queue (slot 38) again and again while ten
// thousand routing presses arrive: the queue is the window's thread's, and
// each press is delivered once, in order, on that thread.
TEST_F(StuckDisplayTest, EachPressArrivesOnceWhileAnotherThreadRunsTheKeyQueue)
{
    const int kPresses = 10000;
    ASSERT_TRUE(Open());
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop) {
            driver.ProcessKeyCombinationQueue();
            ::Sleep(1);
        }
    });
    for (int i = 0; i < kPresses; i += 100) {
        std::string presses;
        for (int k = i; k < i + 100; ++k)
            presses += Bytes(RoutingPress(1 + k % 80));
        port.Receive(presses);
        testenv::PumpMessages(2);
    }
    testenv::PumpUntil([&] { return callbacks.Deliveries().size() >= static_cast<size_t>(kPresses); }, 60000);
    testenv::PumpMessages(300);
    stop = true;
    other.join();
    const std::vector<Delivery> keys = callbacks.Deliveries();
    ASSERT_EQ(keys.size(), static_cast<size_t>(kPresses));
    int wrong = 0;
    for (int i = 0; i < kPresses; ++i)
        wrong += keys[i].routing != 1 + i % 80 || keys[i].threadId != GetCurrentThreadId();
    EXPECT_EQ(wrong, 0) << "presses out of order or delivered on another thread";
}

// The thread that opened the driver ends, and with it the window, with D1
// held, while the display goes on sending: what waits is bounded to the
// newest bytes, the drop is said, and the press made last reaches the window
// made anew alone (D1's key-up went with the bytes dropped).
TEST_F(StuckDisplayTest, WithoutAWindowTheNewestBytesAreKept)
{
    std::thread([&] {
        ASSERT_TRUE(Open());
        port.Receive(Bytes(KeyFrame(kKeyDownFrame, D1)));
        testenv::PumpMessages(300);
    }).join();
    port.Receive(Bytes(KeyFrame(kKeyUpFrame, D1)) + Noise(CReceiveHandOff::kMaxWaitingWithoutWindow + 4000) +
                 Bytes(RoutingPress(7)));
    ASSERT_TRUE(testenv::WaitFor([&] { return trace.Count("oldest dropped") > 0; }, 20000)) << "no bound, or not said";
    size_t mostAtOnce = 0;
    driver.ShowText(Line(1).data(), kCells);  // a call from a living thread makes the window anew
    testenv::PumpUntil([&] { return !callbacks.Deliveries().empty(); }, kPromptMs);
    testenv::PumpMessages(300, [&](const MSG& msg) {
        if (msg.message == CBrailleDisplayDriver::WM_DEVICE_BYTE)
            mostAtOnce = std::max(mostAtOnce, static_cast<size_t>(msg.wParam));
    });
    ASSERT_EQ(callbacks.Deliveries().size(), 1u);
    EXPECT_EQ(callbacks.Deliveries()[0].name, "Routing") << "D1 held for good";
    EXPECT_EQ(callbacks.Deliveries()[0].routing, 7);
    EXPECT_LE(mostAtOnce, CReceiveHandOff::kMaxWaitingWithoutWindow);
}

// A key's callback runs a message loop for 1.5 s (a dialog of the screen
// reader): a key pressed during it, and one after it, arrive at once.
TEST_F(StuckDisplayTest, KeysArriveDuringAndAfterALoopInsideAKeysCallback)
{
    ASSERT_TRUE(Open());
    Stopwatch clock;
    std::map<std::string, double> arrived;
    std::atomic<bool> inLoop{false};
    callbacks.onDelivery = [&](const Delivery& key) {
        arrived[key.name] = clock.Ms();
        if (key.name == "T1") {
            inLoop = true;
            testenv::PumpMessages(1500);
        }
    };
    std::atomic<double> pressedDuring{0};
    std::thread user([&] {
        testenv::WaitFor([&] { return inLoop.load(); }, kPromptMs);
        pressedDuring = clock.Ms();
        port.Receive(Press({T2}));
    });
    port.Receive(Press({T1}));
    ASSERT_TRUE(testenv::PumpUntil([&] { return arrived.count("T1") > 0; }, kPromptMs));
    user.join();
    const double pressedAfter = clock.Ms();
    port.Receive(Press({T3}));
    ASSERT_TRUE(testenv::PumpUntil([&] { return arrived.count("T3") > 0; }, kPromptMs));
    ASSERT_EQ(arrived.count("T2"), 1u);
    EXPECT_LT(arrived["T2"] - pressedDuring, 500.0) << "the key pressed during the loop waited for its end";
    EXPECT_LT(arrived["T3"] - pressedAfter, 500.0) << "the key pressed after the loop came late";
}

// The port is busy for a moment when the display wakes: the wake retries
// its own open, and the line is back at once, not after the watch's next
// look and a handshake.
TEST_F(StuckDisplayTest, AWakeRetriesAPortBusyForAMoment)
{
    ASSERT_TRUE(Open());
    GiveLines(1, 1);
    ASSERT_TRUE(AwaitLastShown(Line(1)));
    ASSERT_TRUE(driver.Sleep(TRUE));
    const size_t before = Shown().size();
    g_busyOpens = 1;
    g_scriptedOpen = CSerialCommHelper::SetOpenPortFn(BusyOpen);
    EXPECT_TRUE(driver.Sleep(FALSE));
    CSerialCommHelper::SetOpenPortFn(g_scriptedOpen);
    EXPECT_EQ(g_busyOpens.load(), 0) << "the port was not busy";
    EXPECT_TRUE(testenv::PumpUntil([&] { return Shown().size() > before && Shown().back() == Line(1); }, 500))
        << "the wake gave up its open";
}

// A line the display did not take, then Sleep: the sleeping display is
// blank, not left showing what the user was reading.
TEST_F(StuckDisplayTest, TheSleepingDisplayIsBlankAfterALineItDidNotTake)
{
    ASSERT_TRUE(Open());
    GiveLines(1, 1);
    ASSERT_TRUE(AwaitLastShown(Line(1)));
    GiveLinesStuck(2, 1);
    port.writesStall = false;
    driver.Sleep(TRUE);  // before the tick sends the line again
    EXPECT_TRUE(AwaitLastShown(std::string(kCells, '\0'))) << "the display still shows a line while asleep";
}

// A port arrival finds the handle of a display that went, a resume (what
// Windows sends top-level windows) writes the whole line again; a failure is
// loss, and the display is then looked for at once.
TEST_F(StuckDisplayTest, APortArrivalOrAResumeLooksAtTheLinkAtOnce)
{
    void (*AnnounceResume)() = [] {
        SendMessageA(FindWindowA("BrailleDisplayDrvClass", nullptr), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    };
    const struct {
        void (*announce)();
        bool statusFails, writesFail, lost, lineAgain;
        const char* what;
    } cases[] = {
        {AnnouncePortArrival, false, false, false, false, "a port arrived, ours answers"},
        {AnnouncePortArrival, true, false, true, true, "a port arrived, ours went"},
        {AnnounceResume, false, false, false, true, "the PC woke"},
        {AnnounceResume, false, true, true, true, "the PC woke, the line cannot be written"},
    };
    ASSERT_TRUE(Open());
    GiveLines(1, 1);
    ASSERT_TRUE(AwaitLastShown(Line(1)));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t shown = Shown().size(), requests = InitRequests();
        const int lost = trace.Count("display lost");
        port.statusFails = c.statusFails;
        port.writesFail = c.writesFail;
        c.announce();
        EXPECT_EQ(testenv::PumpUntil([&] { return trace.Count("display lost") > lost; }, 500), c.lost);
        port.statusFails = port.writesFail = false;
        // The handshake's settle time, and no retry period.
        EXPECT_EQ(c.lost && AnswerInitRequest(requests, 1000 + CBrailleDisplayDriver::kRetryPeriodMs / 2), c.lost);
        EXPECT_EQ(testenv::PumpUntil([&] { return Shown().size() > shown && Shown().back() == Line(1); }, 1500),
                  c.lineAgain);
    }
}

// A serial driver that ends a cancelled operation only 2 s later: Windows
// keeps the port busy until then. The wake does not wait for it and leaves
// the display to the watch, which finds it a retry period later; after a
// replug (the port announced) the busy port's retries find it as soon as
// the operation has ended.
TEST_F(StuckDisplayTest, ACancelEndingTwoSecondsLateKeepsNoDisplayWaiting)
{
    std::atomic<bool> done{false};
    std::thread lateDriver([&] {
        while (!done) {
            if (port.HangingEvents().empty()) {
                ::Sleep(10);
                continue;
            }
            ::Sleep(2000);
            port.FinishHanging();
        }
    });
    ASSERT_TRUE(Open());
    GiveLines(1, 1);
    ASSERT_TRUE(AwaitLastShown(Line(1)));

    port.hangs = testenv::kRead;  // the worker's read, cancelled by the sleep
    ASSERT_TRUE(driver.Sleep(TRUE));
    port.hangs = testenv::kNone;
    ASSERT_FALSE(port.HangingEvents().empty()) << "the cancel did not hang";
    size_t before = Shown().size();
    const DWORD watchMs = CBrailleDisplayDriver::kRetryPeriodMs + kPromptMs;
    const size_t requests = InitRequests();
    std::thread watch([&] { AnswerInitRequest(requests, watchMs); });
    ASSERT_TRUE(driver.Sleep(FALSE));
    EXPECT_TRUE(testenv::PumpUntil([&] { return Shown().size() > before && Shown().back() == Line(1); }, watchMs))
        << "not found again after the wake";
    watch.join();
    EXPECT_FALSE(trace.Contains("earlier connection")) << "the held record kept the port from opening on wake";

    port.hangs = testenv::kWrite;  // a write that cannot go: the display was pulled
    GiveLines(2, 1);
    ASSERT_TRUE(testenv::PumpUntil([&] { return trace.Contains("display lost"); }, kPromptMs));
    port.hangs = testenv::kNone;
    before = Shown().size();
    std::thread display = AnswerTheNextInitRequest();
    AnnouncePortArrival();
    EXPECT_TRUE(testenv::PumpUntil([&] { return Shown().size() > before && Shown().back() == Line(2); }, kPromptMs))
        << "not found again after the replug";
    display.join();
    EXPECT_FALSE(trace.Contains("earlier connection")) << "the held record kept the port from opening on replug";
    done = true;
    lateDriver.join();
}

}  // namespace
}  // namespace faults
