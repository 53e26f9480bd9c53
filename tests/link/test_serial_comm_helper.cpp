// The serial transport on real (pseudo) COM ports: what reaches the owner,
// what reaches the wire, and how the port is opened, retried and released.
#include "DisplaySimulator.h"
#include "DriverEnv.h"
#include "link/CSerialCommHelper.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

namespace {

const DWORD kSettle = 300;  // long enough for the worker to drain what was sent

// Reads what is available until at least count bytes have come or the time is up.
std::string ReadUntil(CSerialCommHelper& serial, size_t count, DWORD timeoutMs)
{
    std::string all;
    testenv::WaitFor([&] {
        std::string chunk;
        if (SUCCEEDED(serial.ReadAvailable(chunk)))
            all += chunk;
        return all.size() >= count;
    }, timeoutMs, [](DWORD) { Sleep(5); });
    return all;
}

std::string AsString(const std::vector<BYTE>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::vector<BYTE> AsBytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

HRESULT InitPair(CSerialCommHelper& serial, int pair, BYTE parity = 0)
{
    return serial.Init(testenv::DriverPort(pair), 115200, parity, 1, 8);
}

// --- the opening, through the seam -----------------------------------------

std::vector<std::string> g_openedPaths;
std::vector<DWORD> g_openTicks;
DWORD g_openError = ERROR_FILE_NOT_FOUND;
std::atomic<int> g_refusals{0};  // how many openings answer g_openError before the real one

HANDLE RecordingOpen(const char* devicePath)
{
    g_openedPaths.push_back(devicePath);
    g_openTicks.push_back(GetTickCount());
    if (g_refusals-- > 0) {
        SetLastError(g_openError);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
}

class OpeningTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_openedPaths.clear();
        g_openTicks.clear();
        m_previous = CSerialCommHelper::SetOpenPortFn(RecordingOpen);
    }
    void TearDown() override
    {
        CSerialCommHelper::SetOpenPortFn(m_previous);
        m_serial.UnInit();
    }
    void Refuse(DWORD error, int times)
    {
        g_openError = error;
        g_refusals = times;
    }

    CSerialCommHelper m_serial;
    CSerialCommHelper::OpenPortFn m_previous = nullptr;
};

TEST_F(OpeningTest, PortNamesAreNormalisedBeforeOpening)
{
    const struct {
        const char* given;
        const char* opened;
    } cases[] = {
        {"COM3", "\\\\.\\COM3"},
        {"\\\\.\\COM12", "\\\\.\\COM12"},
        {"x\\\\.\\COMy", "x\\\\.\\COMy"},  // the sequence anywhere leaves the name alone
        {"com3", "com3"},                  // case-sensitive
        {"usb", "usb"},
        {"", ""},
    };
    for (const auto& c : cases) {
        g_openedPaths.clear();
        Refuse(ERROR_FILE_NOT_FOUND, 1);
        EXPECT_EQ(m_serial.Init(c.given, 115200, 0, 1, 8), E_FAIL);
        ASSERT_EQ(g_openedPaths.size(), 1u) << c.given;
        EXPECT_EQ(g_openedPaths[0], c.opened);
    }
}

TEST_F(OpeningTest, BusyPortIsRetriedThreeTimesOneSecondApart)
{
    testenv::TraceCapture trace;
    Refuse(ERROR_ACCESS_DENIED, 100);
    const DWORD start = GetTickCount();
    EXPECT_EQ(InitPair(m_serial, 1), E_FAIL);
    const DWORD elapsed = GetTickCount() - start;

    ASSERT_EQ(g_openedPaths.size(), 4u);
    for (size_t i = 1; i < g_openTicks.size(); ++i)
        EXPECT_GE(g_openTicks[i] - g_openTicks[i - 1], 950u);
    EXPECT_LT(elapsed, 15000u) << "the retries do not end";
    EXPECT_TRUE(trace.Contains("Port after 3 retries."));
    EXPECT_FALSE(m_serial.IsConnected());
}

TEST_F(OpeningTest, PortFreedDuringTheRetriesIsUsed)
{
    DisplaySimulator display(1);
    Refuse(ERROR_ACCESS_DENIED, 2);
    ASSERT_EQ(InitPair(m_serial, 1), S_OK);
    EXPECT_EQ(g_openedPaths.size(), 3u);
    m_serial.Start();
    ASSERT_EQ(m_serial.Write("ok", 2), S_OK);
    EXPECT_TRUE(display.WaitForBytes(2, 2000));
}

// The owner's abort (Close or Sleep meanwhile) ends the retries of a busy
// port at once, whether it came before them or during them.
TEST_F(OpeningTest, BusyPortRetriesGiveUpOnTheOwnersAbort)
{
    HANDLE abort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_serial.SetAbortEvent(abort);
    for (bool during : {false, true}) {
        SCOPED_TRACE(during ? "abort during the retries" : "abort before them");
        g_openedPaths.clear();
        Refuse(ERROR_ACCESS_DENIED, 100);
        ResetEvent(abort);
        if (!during)
            SetEvent(abort);
        std::thread aborter([&] {
            if (during)
                testenv::WaitFor([] { return g_refusals <= 98; }, 5000, [](DWORD) { Sleep(5); });
            SetEvent(abort);
        });
        testenv::Stopwatch watch;
        EXPECT_EQ(InitPair(m_serial, 1), E_FAIL);
        const double took = watch.Ms();
        aborter.join();
        EXPECT_LT(took, during ? 1800.0 : 600.0) << "the retries ran their course";
        EXPECT_LT(g_openedPaths.size(), 4u);
    }
    m_serial.SetAbortEvent(nullptr);
    CloseHandle(abort);
}

TEST_F(OpeningTest, OtherOpeningErrorsFailAtOnce)
{
    Refuse(ERROR_FILE_NOT_FOUND, 100);
    EXPECT_EQ(InitPair(m_serial, 1), E_FAIL);
    EXPECT_EQ(g_openedPaths.size(), 1u) << "retried";
}

TEST(Transport, MissingPortFails)
{
    CSerialCommHelper serial;
    EXPECT_EQ(serial.Init("COM99", 115200, 0, 1, 8), E_FAIL);
    EXPECT_FALSE(serial.IsConnected());
    EXPECT_EQ(serial.UnInit(), S_OK);
}

// --- receiving ---------------------------------------------------------------

class TransportTest : public ::testing::Test {
protected:
    void TearDown() override { m_serial.UnInit(); }

    DisplaySimulator m_display{1};
    CSerialCommHelper m_serial;
};

TEST_F(TransportTest, BytesBeforeStartAreDroppedAndAfterItKeptInOrder)
{
    ASSERT_EQ(InitPair(m_serial, 1), S_OK);
    std::string out;
    EXPECT_EQ(m_serial.ReadAvailable(out), E_FAIL);
    m_display.SendRaw({0x1B, 0x05, 0x01, 0x22});
    Sleep(kSettle);

    m_serial.Start();
    EXPECT_EQ(m_serial.ReadAvailable(out), S_OK);
    EXPECT_TRUE(out.empty()) << "bytes that came before Start were kept";

    std::vector<BYTE> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<BYTE>(i);  // 0x00 and 0x1B included
    m_display.SendRaw(all);
    EXPECT_EQ(ReadUntil(m_serial, all.size(), 3000), AsString(all));
}

TEST_F(TransportTest, ReadOutsNeitherRepeatNorLoseBytes)
{
    ASSERT_EQ(InitPair(m_serial, 1), S_OK);
    m_serial.Start();
    std::string sent;
    for (int i = 0; i < 5000; ++i)
        sent += static_cast<char>((i * 7 + i / 256) & 0xFF);

    std::thread sender([&] {
        for (size_t at = 0; at < sent.size(); at += 37) {
            m_display.SendRaw(AsBytes(sent.substr(at, 37)));
            if (at % 370 == 0)
                Sleep(1);
        }
    });
    const std::string got = ReadUntil(m_serial, sent.size(), 10000);
    sender.join();
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "bytes were reordered, repeated or lost";

    Sleep(kSettle);
    std::string more = "stale";
    EXPECT_EQ(m_serial.ReadAvailable(more), S_OK);
    EXPECT_TRUE(more.empty());
}

// --- writing -----------------------------------------------------------------

TEST_F(TransportTest, WritesOnlyWhileStarted)
{
    EXPECT_EQ(m_serial.Write("a", 1), E_FAIL);  // never opened
    ASSERT_EQ(InitPair(m_serial, 1), S_OK);
    EXPECT_EQ(m_serial.Write("b", 1), E_FAIL);  // CS_Init
    m_serial.Start();
    EXPECT_EQ(m_serial.Write("c\0d", 3), S_OK);
    m_serial.Stop();
    EXPECT_EQ(m_serial.Write("e", 1), E_FAIL);  // CS_Stopped
    m_serial.Start();
    EXPECT_EQ(m_serial.Write("f", 1), S_OK);  // comes after anything written before
    ASSERT_TRUE(m_display.WaitForBytes(4, 2000));
    EXPECT_EQ(AsString(m_display.ReceivedBytes()), std::string("c\0df", 4));
}

TEST(Transport, WriteStillPendingAfterItsBoundIsCancelled)
{
    // Nobody reads the display end, so a large block backs up in the pair.
    testenv::TraceCapture trace;
    CSerialCommHelper serial;
    ASSERT_EQ(InitPair(serial, 4), S_OK);
    serial.Start();
    const std::string block(4 << 20, 'x');
    const DWORD start = GetTickCount();
    EXPECT_EQ(serial.Write(block.data(), static_cast<DWORD>(block.size())), E_FAIL);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_TRUE(trace.Contains("Writing to serial COM port timed out."));
    EXPECT_EQ(serial.UnInit(), S_OK);
    // Throw away what the pair still holds: the port manager starts it
    // afresh; a pair that stays plugged is read until it is empty.
    if (testenv::WhyNoPulls().empty()) {
        EXPECT_TRUE(testenv::ReplugPair(4));
        return;
    }
    DisplaySimulator reader(4);
    size_t seen = SIZE_MAX;
    testenv::WaitFor([&] { return std::exchange(seen, reader.ReceivedBytes().size()) == seen; }, 20000,
                     [](DWORD) { Sleep(300); });
}

TEST_F(TransportTest, LineSettingsFollowTheArguments)
{
    ASSERT_EQ(m_serial.Init(testenv::DriverPort(1), 57600, NOPARITY, 2, 7), S_OK);
    // A second handle onto the same port reads the settings back. (A
    // pseudo-terminal keeps neither parity, byte size nor RTS, so those
    // cannot be read back here.)
    HANDLE peek = CreateFileA(("\\\\.\\" + testenv::DriverPort(1)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(peek, INVALID_HANDLE_VALUE);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(peek, &dcb));
    CloseHandle(peek);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, unsigned(DTR_CONTROL_ENABLE));
}

// --- the worker's life ------------------------------------------------------

const char kWorkerStarted[] = "ThreadFn -> started";
const char kWorkerEnded[] = "ThreadFn -> ended";

TEST_F(TransportTest, UnInitThenInitRunsANewWorker)
{
    testenv::TraceCapture trace;
    for (int round = 1; round <= 2; ++round) {
        ASSERT_EQ(InitPair(m_serial, 1), S_OK);
        EXPECT_EQ(trace.Count(kWorkerStarted), round);
        m_serial.Start();
        m_display.SendRaw({0x1B, static_cast<BYTE>(round)});
        EXPECT_EQ(ReadUntil(m_serial, 2, 2000), std::string("\x1B", 1) + static_cast<char>(round));
        m_display.ClearReceivedBytes();
        ASSERT_EQ(m_serial.Write("w", 1), S_OK);
        EXPECT_TRUE(m_display.WaitForBytes(1, 2000));
        m_serial.Stop();
        EXPECT_EQ(m_serial.UnInit(), S_OK);
        EXPECT_FALSE(m_serial.IsConnected());
        EXPECT_EQ(trace.Count(kWorkerEnded), round);
    }
}

TEST_F(TransportTest, InitOverAnOpenPortEndsTheEarlierWorker)
{
    DisplaySimulator second(2);
    testenv::TraceCapture trace;
    ASSERT_EQ(InitPair(m_serial, 1), S_OK);
    ASSERT_EQ(InitPair(m_serial, 2), S_OK);  // as the handshake does with its candidates
    EXPECT_EQ(trace.Count(kWorkerStarted), 2);
    EXPECT_EQ(trace.Count(kWorkerEnded), 1);

    m_serial.Start();
    m_display.SendRaw({'1'});
    second.SendRaw({'2'});
    EXPECT_EQ(ReadUntil(m_serial, 2, kSettle * 2), "2");
    ASSERT_EQ(m_serial.Write("x", 1), S_OK);
    EXPECT_TRUE(second.WaitForBytes(1, 2000));
    EXPECT_TRUE(m_display.ReceivedBytes().empty());
    m_serial.UnInit();
    EXPECT_EQ(trace.Count(kWorkerEnded), 2);
}

// The pending read fails as the cable goes: the link is lost before any write.
TEST(Transport, PulledCableIsNoticedFailsWritesAndStillUnInits)
{
    VK_SKIP_IF(testenv::WhyNoPulls());
    DisplaySimulator display(3);
    CSerialCommHelper serial;
    ASSERT_EQ(InitPair(serial, 3), S_OK);
    serial.Start();
    ASSERT_TRUE(display.Vanish());
    EXPECT_TRUE(testenv::WaitFor([&] { return serial.IsLinkLost(); }, 2000, [](DWORD) { Sleep(5); }));
    HRESULT hr = S_OK;
    testenv::WaitFor([&] { return (hr = serial.Write("x", 1)) != S_OK; }, 1000, [](DWORD) { Sleep(50); });
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(serial.UnInit(), S_OK);

    ASSERT_TRUE(display.Return());
    ASSERT_EQ(InitPair(serial, 3), S_OK);
    serial.Start();
    display.SendRaw({'b', 'a', 'c', 'k'});
    EXPECT_EQ(ReadUntil(serial, 4, 2000), "back");
    serial.UnInit();
}

}  // namespace
