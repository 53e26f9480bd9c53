// A display that goes away while the driver is open comes back by itself:
// the cable pulled and plugged back (the port pair stopped and restarted),
// with no call from the screen reader in between.
#include "FaultSession.h"
#include "core/CBrailleDisplayDriver.h"

#include <cstdio>

namespace faults {
namespace {

// The retry period and the handshake, with room for a loaded machine.
const DWORD kComeBackMs = 12000;
const DWORD kPromptMs = 2000;
const DWORD kRetryPeriodMs = CBrailleDisplayDriver::kRetryPeriodMs;
// A try that gets no answer: the display's settle time, then five waits for
// the answer.
const DWORD kSilentTryMs = 1000 + 5 * 200;

DWORD CountHandles()
{
    DWORD count = 0;
    for (UINT_PTR value = 4; value < 16384; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

class ReconnectTest : public FaultSession {
protected:
    void SetUp() override
    {
        VK_SKIP_IF(testenv::WhyNoPulls());
        FaultSession::SetUp();
    }

    std::vector<BYTE> Line(char fill) const { return std::vector<BYTE>(40, static_cast<BYTE>(fill)); }

    void Show(char fill)
    {
        const auto cells = Line(fill);
        ASSERT_TRUE(driver->ShowText(reinterpret_cast<const char*>(cells.data()), 40));
    }

    // Pulls the cable and gives the driver a line that cannot reach the
    // display (its failed write tells the driver the display is gone).
    void PullWhileShowing(char fill)
    {
        display->Vanish();
        Show(fill);
        Pump(300);
    }

    // Lets the display come back silent and waits for the driver's next try
    // at it: the try has just begun and will fail.
    void ReturnSilentAndAwaitATry()
    {
        display->SetSilent(true);
        const size_t requests = display->InitRequestCount();
        display->Return();
        ASSERT_TRUE(PumpUntil([&] { return display->InitRequestCount() > requests; }, kComeBackMs))
            << "the driver does not look for its display";
    }

    // The display received a handshake and then the given line, and a key
    // pressed now arrives alone (keys held before the pull are forgotten).
    // Returns the GetTickCount at which the line arrived (0: never).
    DWORD ExpectBackWith(DisplaySimulator& at, char fill) { return ExpectBackWith(at, Line(fill)); }
    DWORD ExpectBackWith(DisplaySimulator& at, const std::vector<BYTE>& line)
    {
        DWORD arrived = 0;
        EXPECT_TRUE(PumpUntil(
            [&] {
                for (const auto& frame : at.Frames())
                    if (frame.id == 2 && frame.payload == line)
                        return (arrived = frame.tick) != 0;
                return false;
            },
            kComeBackMs))
            << "the display did not come back with the newest line";
        if (!arrived)
            return 0;
        EXPECT_EQ(at.Frames().front().id, 0) << "a handshake comes first";
        callbacks.Clear();
        at.Press({T1});
        const auto got = Await(1);
        EXPECT_EQ(got.size(), 1u);
        if (!got.empty()) {
            EXPECT_EQ(got[0].name, "T1");
        }
        return arrived;
    }
};

// Pull, new lines, plug back: the newest line reaches the display after a
// handshake; held keys are forgotten; the screen reader keeps its cell count
// whatever the display reports.
TEST_F(ReconnectTest, TheDisplayComesBackWithTheNewestLine)
{
    ASSERT_TRUE(Open());
    Show('\x01');
    ASSERT_TRUE(display->WaitForFrames(2, 2000));
    display->KeyDown(D1);  // held when the cable goes: its key-up never comes
    Pump(200);

    PullWhileShowing('\x02');
    Show('\x03');  // given while lost: kept
    display->Return();
    display->ClearFrames();
    ASSERT_NE(ExpectBackWith(*display, '\x03'), 0u);

    // A display of another size: the screen reader keeps its 40 cells.
    PullWhileShowing('\x05');
    display->SetInitResponse(0, 0, 80);
    display->Return();
    display->ClearFrames();
    AnnouncePortArrival();
    auto padded = Line('\x05');
    padded.resize(80, 0);
    ASSERT_NE(ExpectBackWith(*display, padded), 0u);
    EXPECT_EQ(driver->GetTextCellCount(), 40);
}

// Opened on 80 cells, back with 40: lines are cut to what the display has.
TEST_F(ReconnectTest, ASmallerDisplayComesBackWithTheLineCut)
{
    display->SetInitResponse(0, 0, 80);
    ASSERT_TRUE(Open());
    std::vector<BYTE> wide(80);
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<BYTE>(i % 64);
    ASSERT_TRUE(driver->ShowText(reinterpret_cast<const char*>(wide.data()), 80));
    ASSERT_TRUE(AwaitCellFrames(1));

    display->Vanish();
    ASSERT_TRUE(driver->ShowText(reinterpret_cast<const char*>(wide.data()), 80));  // finds it gone
    display->SetInitResponse(0, 0, 40);
    display->Return();
    display->ClearFrames();
    AnnouncePortArrival();
    ASSERT_NE(ExpectBackWith(*display, std::vector<BYTE>(wide.begin(), wide.begin() + 40)), 0u);
    EXPECT_EQ(driver->GetTextCellCount(), 80);
}

// A port arrival makes the driver try at once: announced just as a try
// that will fail sends its request, the next request follows when that try
// has ended and the display has settled, not a retry period later.
TEST_F(ReconnectTest, AnAnnouncedPortIsTriedAtOnce)
{
    ASSERT_TRUE(Open());
    Show('\x04');
    ASSERT_TRUE(AwaitCellFrames(1));
    PullWhileShowing('\x04');
    ReturnSilentAndAwaitATry();
    ASSERT_FALSE(HasFatalFailure());
    display->SetSilent(false);
    display->ClearFrames();
    const DWORD announced = GetTickCount();
    AnnouncePortArrival();
    const DWORD back = ExpectBackWith(*display, '\x04');
    ASSERT_NE(back, 0u);
    const DWORD asked = display->Frames().front().tick;
    // The rest of the failing try and the settle time make kSilentTryMs;
    // without the announcement a whole retry period comes on top.
    const DWORD bound = kSilentTryMs + kRetryPeriodMs / 2;
    printf("[ figures  ] announced port to the next request: %lu ms, to the line: %lu ms (bound %lu ms, "
           "%lu ms without the announcement)\n",
           asked - announced, back - announced, bound, kSilentTryMs + kRetryPeriodMs);
    EXPECT_LT(asked - announced, bound) << "the announcement was not acted on";
}

// Pulled while nothing is shown: no write fails, the failed read alone tells
// the driver its display is gone; it comes back with the line it had.
TEST_F(ReconnectTest, ADisplayLostWhileIdleComesBack)
{
    ASSERT_TRUE(Open());
    Show('\x06');
    ASSERT_TRUE(AwaitCellFrames(1));
    const size_t requests = display->InitRequestCount();
    display->Vanish();
    Pump(300);
    display->Return();
    display->ClearFrames();
    ASSERT_NE(ExpectBackWith(*display, '\x06'), 0u);
    EXPECT_GT(display->InitRequestCount(), requests);
}

// "usb" looks at the registry again on every try: the display may come back
// on another COM port.
TEST_F(ReconnectTest, UsbComesBackOnAnotherPort)
{
    DisplaySimulator other(2);
    ASSERT_TRUE(other.IsOpen());
    auto registration = std::make_unique<UsbRegistration>(
        std::vector<std::pair<std::string, std::string>>{{"VK0001", testenv::DriverPort(1)}});
    ASSERT_TRUE(driver->Open("usb", &callbacks, "Cellivanta VK", (testenv::BinDir() + "\\VK.JLB").c_str()));
    Show('\x11');
    ASSERT_TRUE(display->WaitForFrames(2, 2000));

    PullWhileShowing('\x12');
    registration.reset();
    registration = std::make_unique<UsbRegistration>(
        std::vector<std::pair<std::string, std::string>>{{"VK0001", testenv::DriverPort(2)}});
    other.ClearFrames();
    ExpectBackWith(other, '\x12');
    driver->Close();
    display->Return();
}

// Close and Sleep while the driver is busy looking for the display return
// promptly (the handshake gives up) and leave no thread behind; Sleep(FALSE)
// that cannot reach the display keeps looking for it.
TEST_F(ReconnectTest, CallsStayPromptWhileTheDriverLooksForTheDisplay)
{
    const int threadsBefore = ThreadCountOfProcess();
    ASSERT_TRUE(Open());
    Show('\x21');
    ASSERT_TRUE(display->WaitForFrames(2, 2000));
    PullWhileShowing('\x22');
    size_t requests = display->InitRequestCount();
    display->Return();
    display->SetSilent(true);  // every try is a whole handshake without an answer
    ASSERT_TRUE(PumpUntil([&] { return display->InitRequestCount() > requests; }, kComeBackMs));

    DWORD took[3];
    Stopwatch watch;
    EXPECT_TRUE(driver->Sleep(TRUE));
    took[0] = watch.Ms();
    // Longer than a whole cycle of the watch: a try, the retry period, a try.
    requests = display->InitRequestCount();
    Pump(2 * kSilentTryMs + kRetryPeriodMs);
    EXPECT_EQ(display->InitRequestCount(), requests) << "asleep, the driver stopped looking";

    display->Vanish();
    watch = Stopwatch();
    driver->Sleep(FALSE);  // the display is gone: the driver keeps looking
    took[1] = watch.Ms();
    display->Return();
    display->SetSilent(false);
    display->ClearFrames();
    ExpectBackWith(*display, '\x22');

    PullWhileShowing('\x23');
    requests = display->InitRequestCount();
    display->Return();
    display->SetSilent(true);
    ASSERT_TRUE(PumpUntil([&] { return display->InitRequestCount() > requests; }, kComeBackMs));
    Pump(300);  // in the middle of the handshake's waits
    watch = Stopwatch();
    driver->Close();
    took[2] = watch.Ms();
    ExpectPromptCalls(took, "while looking");
    Pump(200);
    EXPECT_LE(ThreadCountOfProcess(), threadsBefore) << "a thread outlives Close";
    display->SetSilent(false);
}

// Many pulls and plugs leave the process's handles and memory where they were.
TEST_F(ReconnectTest, PullsAndPlugsLeaveNothingBehind)
{
    ASSERT_TRUE(Open());
    auto cycle = [&](int i) {
        PullWhileShowing(static_cast<char>(0x30 + i % 64));
        display->Return();
        display->ClearFrames();
        AnnouncePortArrival();
        ASSERT_TRUE(PumpUntil([&] { return !CellFrames().empty(); }, kComeBackMs)) << "cycle " << i;
    };
    for (int i = 0; i < 5; ++i)
        cycle(i);
    const DWORD handlesBefore = CountHandles();
    const SIZE_T bytesBefore = PrivateBytes();
    for (int i = 5; i < 50 && !HasFatalFailure(); ++i)
        cycle(i);
    const DWORD handlesAfter = CountHandles();
    const SIZE_T bytesAfter = PrivateBytes();
    printf("[ figures  ] 45 pulls: handles %lu -> %lu, private KiB %lu -> %lu\n", handlesBefore, handlesAfter,
           static_cast<unsigned long>(bytesBefore / 1024), static_cast<unsigned long>(bytesAfter / 1024));
    EXPECT_LE(handlesAfter, handlesBefore + 10);
    EXPECT_LT(bytesAfter, bytesBefore + 2 * 1024 * 1024);
}

}  // namespace
}  // namespace faults
