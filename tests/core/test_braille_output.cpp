// Braille output as the screen reader sees it: VK.JLB loaded by name, the
// display simulator on the other end of a real (pseudo) serial port.
#include "FaultSession.h"

#include <algorithm>

namespace {

const std::string kCells40(40, '\x3F');
const std::vector<BYTE> kBlank40(40, 0);

std::vector<BYTE> CellsFrame(const std::string& cells, size_t width = 40)
{
    std::vector<BYTE> payload(width, 0);
    for (size_t i = 0; i < cells.size() && i < width; ++i)
        payload[i] = static_cast<BYTE>(cells[i]);
    return payload;
}

class BrailleOutputTest : public faults::FaultSession {
protected:
    // The payloads of the cell frames received, in order.
    std::vector<std::vector<BYTE>> CellPayloads() const
    {
        std::vector<std::vector<BYTE>> payloads;
        for (const auto& frame : CellFrames())
            payloads.push_back(frame.payload);
        return payloads;
    }
    // Waits until the last cell frame received holds these cells.
    bool AwaitLastCells(const std::vector<BYTE>& cells, DWORD timeoutMs = 5000)
    {
        return PumpUntil([&] {
            const auto frames = CellFrames();
            return !frames.empty() && frames.back().payload == cells;
        }, timeoutMs);
    }
};

TEST_F(BrailleOutputTest, HandshakeLearnsTheCellCount)
{
    display->SetInitResponse(0, 7, 40);
    const DWORD before = GetTickCount();
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1), "C:\\Drivers\\VK.JLB"));
    const DWORD took = GetTickCount() - before;

    const auto frames = display->Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].id, 0);
    EXPECT_TRUE(frames[0].payload.empty());
    const std::vector<BYTE> request = {0x1B, 0x00, 0x00};
    // Zeros may come first (they complete a frame an earlier session's close may have cut).
    const auto bytes = display->ReceivedBytes();
    const auto first = std::find_if(bytes.begin(), bytes.end(), [](BYTE b) { return b != 0; });
    ASSERT_GE(bytes.end() - first, 3);
    EXPECT_EQ(std::vector<BYTE>(first, first + 3), request);
    // The display is given about a second to come up before it is asked;
    // the open then ends (its figure comes from `make bench`).
    EXPECT_GE(frames[0].tick - before, 900u);
    EXPECT_LT(took, 10000u);

    EXPECT_EQ(driver->GetTextCellCount(), 40);
    EXPECT_EQ(driver->GetStatusCellCount(), 0);
    EXPECT_EQ(driver->GetTotalCellCount(), 40);
    char name[64];
    EXPECT_EQ(driver->GetDisplayName(name, sizeof name), 13);
    EXPECT_STREQ(name, "Cellivanta VK");
    EXPECT_EQ(driver->GetDriverName(name, 5), 4);
    EXPECT_STREQ(name, "C:\\D");
}

TEST_F(BrailleOutputTest, UsbInAnyCaseFindsTheRegisteredPort)
{
    UsbRegistration usb({{"5&1a2b3c&0&1", testenv::DriverPort(1)}});
    display->SetInitResponse(0, 0, 40);
    ASSERT_TRUE(OpenOn("usb"));
    EXPECT_EQ(driver->GetTotalCellCount(), 40);
    driver->Close();
    display->ClearFrames();
    ASSERT_TRUE(OpenOn("USB"));
    EXPECT_EQ(display->FrameCount(), 1u);
}

TEST_F(BrailleOutputTest, UsbTriesTheInstancesInTurn)
{
    DisplaySimulator second(2);
    UsbRegistration usb({{"1-first", testenv::DriverPort(1)}, {"2-second", testenv::DriverPort(2)}});

    // The first answers: the second is never opened.
    display->SetInitResponse(0, 0, 40);
    second.SetInitResponse(0, 0, 80);
    ASSERT_TRUE(OpenOn("usb"));
    EXPECT_EQ(driver->GetTotalCellCount(), 40);
    EXPECT_EQ(second.FrameCount(), 0u);
    driver->Close();

    // The first stays silent: the second is found.
    display->SetSilent(true);
    display->ClearFrames();
    ASSERT_TRUE(OpenOn("usb"));
    EXPECT_EQ(driver->GetTotalCellCount(), 80);
    EXPECT_EQ(display->FrameCount(), 1u) << "the silent display was asked once";
    EXPECT_EQ(second.FrameCount(), 1u);
}

TEST_F(BrailleOutputTest, FailedOpensLeaveNothingBehind)
{
    const int threadsBefore = ThreadCountOfProcess();

    display->SetSilent(true);
    DWORD before = GetTickCount();
    EXPECT_FALSE(OpenOn(testenv::DriverPort(1)));
    const DWORD silentTook = GetTickCount() - before;
    EXPECT_GE(silentTook, 1900u) << "the silent display was not waited for";
    EXPECT_LT(silentTook, 15000u) << "the wait for a silent display does not end";
    EXPECT_EQ(ThreadCountOfProcess(), threadsBefore) << "braille thread or port worker left running";

    before = GetTickCount();
    EXPECT_FALSE(OpenOn("COM99"));
    EXPECT_LT(GetTickCount() - before, 2500u) << "a missing port is retried";
    EXPECT_FALSE(OpenOn("usb")) << "no USB instance registered";
    EXPECT_FALSE(driver->Open(nullptr, &callbacks, "x", "y"));
    EXPECT_FALSE(driver->Open("", &callbacks, "x", "y"));
    EXPECT_EQ(ThreadCountOfProcess(), threadsBefore);

    // Nothing to post to: the calls answer FALSE at once.
    EXPECT_FALSE(driver->ShowText(kCells40.data(), 40));
    EXPECT_FALSE(driver->Clear());
    EXPECT_FALSE(driver->Sleep(TRUE));
    EXPECT_FALSE(driver->Sleep(FALSE));

    display->SetSilent(false);
    display->SetInitResponse(0, 0, 40);
    EXPECT_TRUE(OpenOn(testenv::DriverPort(1))) << "a good open after failed ones";
}

TEST_F(BrailleOutputTest, ShowTextSendsChangedLinesOnly)
{
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1)));
    display->ClearFrames();

    // Each command runs in turn: once a later line arrived, an earlier one
    // that sent nothing never will.
    const std::string hello = "\x13\x11\x07\x07\x15";
    const std::string tooLong(60, '\x01');
    EXPECT_TRUE(driver->ShowText(hello.data(), 5));
    EXPECT_TRUE(driver->ShowText(hello.data(), 5));
    EXPECT_TRUE(driver->ShowText(tooLong.data(), 60));
    ASSERT_TRUE(AwaitLastCells(CellsFrame(tooLong)));
    EXPECT_EQ(CellPayloads(), (std::vector<std::vector<BYTE>>{CellsFrame(hello), CellsFrame(tooLong)}))
        << "padded with blank cells to 40, the same line again sends nothing, cut at the display's 40 cells";

    EXPECT_FALSE(driver->ShowText(nullptr, 5));
    EXPECT_FALSE(driver->ShowText(hello.data(), 0));
    EXPECT_FALSE(driver->ShowText(hello.data(), -3));
    EXPECT_FALSE(driver->ShowStatus(nullptr, 5));
    EXPECT_FALSE(driver->ShowStatus(hello.data(), 0));
    EXPECT_FALSE(driver->ShowStatus(hello.data(), -3));

    EXPECT_TRUE(driver->ShowStatus(hello.data(), 5));
    EXPECT_TRUE(driver->Clear());
    ASSERT_TRUE(AwaitLastCells(kBlank40));
    EXPECT_EQ(display->FrameCount(), 3u) << "status cells never reach this display";
}

// Blanked before disconnecting, the last line given back on wake without a new
// handshake; a second sleep or wake sends nothing. A frame whose write
// overran its bound on a loaded machine is dropped, so one of three sleeps
// must show the blank.
TEST_F(BrailleOutputTest, SleepBlanksAndDisconnectsWakeRestores)
{
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1)));
    std::string saved = "\x01\x03\x09\x19";
    ASSERT_TRUE(driver->ShowText(saved.data(), 4));
    ASSERT_TRUE(AwaitLastCells(CellsFrame(saved)));

    bool blanked = false;
    for (char marker = '\x07'; marker < '\x0A' && !blanked; ++marker) {
        display->ClearFrames();
        EXPECT_TRUE(driver->Sleep(TRUE));
        const int length = static_cast<int>(saved.size());
        EXPECT_FALSE(driver->ShowText(saved.data(), length)) << "nothing is shown while asleep";
        EXPECT_FALSE(driver->ShowStatus(saved.data(), length));
        EXPECT_FALSE(driver->Clear());
        EXPECT_TRUE(driver->Sleep(TRUE));
        EXPECT_TRUE(driver->Sleep(FALSE));
        EXPECT_TRUE(driver->Sleep(FALSE));
        EXPECT_EQ(driver->GetTotalCellCount(), 40);
        const std::string next(1, marker);
        EXPECT_TRUE(driver->ShowText(next.data(), 1)) << "the connection works again";
        ASSERT_TRUE(AwaitLastCells(CellsFrame(next)));

        for (const auto& frame : display->Frames())
            EXPECT_EQ(frame.id, 2);
        auto payloads = CellPayloads();
        blanked = payloads.size() == 3 && payloads.front() == kBlank40;
        if (blanked)
            payloads.erase(payloads.begin());
        EXPECT_EQ(payloads, (std::vector<std::vector<BYTE>>{CellsFrame(saved), CellsFrame(next)}));
        saved = next;
    }
    EXPECT_TRUE(blanked) << "the display was never blanked on sleep";
}

// Sleep returns only once its own command ran, not when a line queued before
// it was shown: a wake made straight after must find the display asleep, so
// the display is blanked and then given the newest line back. Lines may be
// merged on the way, and on a loaded machine a frame whose write overran its
// bound is dropped: one of three tries must show blank, newest line, marker.
TEST_F(BrailleOutputTest, SleepBehindQueuedLinesReturnsAfterItsOwnCommand)
{
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1)));
    const std::string lines[2] = {std::string(40, '\x01'), std::string(40, '\x02')};
    bool shown = false;
    for (char marker = '\x07'; marker < '\x0A' && !shown; ++marker) {
        display->ClearFrames();
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(driver->ShowText(lines[i % 2].data(), 40));
        ASSERT_TRUE(driver->Sleep(TRUE));
        ASSERT_TRUE(driver->Sleep(FALSE));
        const std::string next(1, marker);
        ASSERT_TRUE(driver->ShowText(next.data(), 1)) << "the display was left asleep";
        ASSERT_TRUE(AwaitLastCells(CellsFrame(next), 10000));
        const auto frames = CellPayloads();
        shown = frames.size() >= 3 && frames[frames.size() - 3] == kBlank40 &&
                frames[frames.size() - 2] == CellsFrame(lines[1]);
    }
    EXPECT_TRUE(shown) << "the display was never put to sleep and woken with the newest line";
}

// The display stops reading while lines keep coming, until the pair holds
// tens of kilobytes of them, and the screen reader puts it to sleep (and,
// the second time, wakes it and gives a line before it reads again).
// Whenever it reads again, every frame it gets is whole (a frame cut by a
// time-out or a purge is completed before the next one) and the last is the
// blank, or the line given after the wake: a sleeping display keeps no text.
TEST_F(BrailleOutputTest, ADisplayThatStoppedReadingIsLeftBlankBySleep)
{
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1)));
    std::string line(40, '\0');
    for (bool wakeBeforeReading : {false, true}) {
        SCOPED_TRACE(wakeBeforeReading ? "woken before it reads again" : "asleep when it reads again");
        display->SetReading(false);
        for (int n = 0; n < 3000; ++n) {
            for (size_t i = 0; i < line.size(); ++i)
                line[i] = static_cast<char>(1 + (n + i) % 0x3F);
            ASSERT_TRUE(driver->ShowText(line.data(), 40));
            if (n % 500 == 0)
                Pump(50);
        }
        Pump(500);
        testenv::Stopwatch watch;
        EXPECT_TRUE(driver->Sleep(TRUE));
        const double slept = watch.Ms();
        const std::vector<BYTE> newest(40, 0x2A);
        if (wakeBeforeReading) {
            EXPECT_TRUE(driver->Sleep(FALSE));
            EXPECT_TRUE(driver->ShowText(reinterpret_cast<const char*>(newest.data()), 40));
            Pump(300);
        }
        display->ClearFrames();
        display->ClearReceivedBytes();
        display->SetReading(true);
        size_t received = 0;
        for (int quiet = 0, rounds = 0; quiet < 5 && rounds < 200; ++rounds) {  // until half a second without a byte
            Pump(100);
            const size_t now = display->ReceivedBytes().size();
            quiet = now == received ? quiet + 1 : 0;
            received = now;
        }
        printf("[ figures  ] Sleep(TRUE) %.0f ms; the display read %zu bytes again\n", slept, received);
        const auto frames = display->Frames();
        ASSERT_FALSE(frames.empty());
        // The cells hold no 1B 02 28: a frame that swallowed the next one's start does.
        const std::vector<BYTE> header = {0x1B, 0x02, 0x28};
        for (const auto& frame : frames)
            EXPECT_TRUE(frame.id == 0 || (frame.id == 2 && frame.payload.size() == 40 &&
                                          std::search(frame.payload.begin(), frame.payload.end(), header.begin(),
                                                      header.end()) == frame.payload.end()))
                << "a frame read as the tail of a cut one (id " << int(frame.id) << ")";
        EXPECT_EQ(frames.back().id, 2);
        EXPECT_EQ(frames.back().payload, wakeBeforeReading ? newest : kBlank40)
            << (wakeBeforeReading ? "the line after the wake was lost" : "the sleeping display keeps text");
        if (!wakeBeforeReading) {
            EXPECT_TRUE(driver->Sleep(FALSE));
        }
    }
}

TEST_F(BrailleOutputTest, CloseEndsTheSessionAndCanBeRepeated)
{
    driver->Close();
    const int threadsBefore = ThreadCountOfProcess();
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1)));
    driver->Close();
    driver->Close();
    EXPECT_EQ(ThreadCountOfProcess(), threadsBefore);
    EXPECT_FALSE(driver->ShowText(kCells40.data(), 40)) << "posting after the thread ended";
    EXPECT_FALSE(driver->Clear());
    EXPECT_EQ(driver->GetTotalCellCount(), 40) << "the cell count of the last open stays";
    EXPECT_FALSE(OpenOn("COM98")) << "a port that cannot be opened after a good session";
}

TEST_F(BrailleOutputTest, SleepKeepsRoomForALargerDisplay)
{
    display->SetInitResponse(0, 0, 20);
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1)));
    ASSERT_TRUE(driver->Sleep(TRUE));
    ASSERT_TRUE(driver->Sleep(FALSE));
    driver->Close();

    display->SetInitResponse(0, 0, 80);
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1)));
    display->ClearFrames();
    const std::string wide(80, '\x2A');
    ASSERT_TRUE(driver->ShowText(wide.data(), 80));
    ASSERT_TRUE(display->WaitForFrames(1, 2000));
    display->ClearFrames();
    ASSERT_TRUE(driver->Sleep(TRUE));
    ASSERT_TRUE(driver->Sleep(FALSE));
    ASSERT_TRUE(display->WaitForFrames(2, 2000));
    EXPECT_EQ(CellFrames().back().payload, CellsFrame(wide, 80)) << "all 80 cells of the last line shown again";
}

}  // namespace
