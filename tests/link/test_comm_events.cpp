// The transport on the comm-event path that Windows runs: a scripted port
// stands in for the serial driver through the transport's seams and plays
// its events as Windows documents them. (A pseudo-terminal under Wine only
// ever completes waits with no event, so the port-pair tests never get here.)
#include "DriverEnv.h"
#include "ScriptedSerialPort.h"
#include "TestDisplay.h"
#include "link/CSerialCommHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

using testenv::ScriptedPort;
using testenv::kNone;
using testenv::kWait;
using testenv::kRead;
using testenv::kWrite;
using testenv::OpKind;

// --- helpers of the tests ----------------------------------------------------

const char kPolling[] = "polling the port instead";
const char kWorkerEnded[] = "ThreadFn -> ended";

HRESULT Connect(CSerialCommHelper& serial)
{
    const HRESULT hr = serial.Init("COM7", 115200, 0, 1, 8);
    serial.Start();
    return hr;
}

// Every non-empty read-out until count bytes came or two seconds passed.
std::vector<std::string> ReadOuts(CSerialCommHelper& serial, size_t count)
{
    std::vector<std::string> outs;
    size_t total = 0;
    testenv::PumpUntil(
        [&] {
            std::string out;
            if (SUCCEEDED(serial.ReadAvailable(out)) && !out.empty()) {
                total += out.size();
                outs.push_back(out);
            }
            return total >= count;
        },
        2000);
    return outs;
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string all;
    for (const std::string& part : parts)
        all += part;
    return all;
}

int CountLines(const testenv::TraceCapture& trace, const char* text)
{
    const std::vector<std::string> lines = trace.Lines();
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [text](const std::string& l) { return l.find(text) != l.npos; }));
}

// --- the event path ------------------------------------------------------------

TEST(CommEvents, BytesArriveWholeAndInOrderAndWritesEndInTxEmpty)
{
    testenv::TraceCapture trace;
    ScriptedPort port;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK);

    // Sizes around the transport's 10-byte reads; every byte value, 0x00 and 0x1B included.
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    size_t at = 0;
    for (size_t size : {1, 9, 10, 11, 20, 37, 168}) {
        const std::string chunk = all.substr(at, size);
        at += size;
        port.Receive(chunk);
        const std::vector<std::string> outs = ReadOuts(serial, chunk.size());
        ASSERT_EQ(outs.size(), 1u) << "a chunk of " << size << " came in pieces";
        EXPECT_TRUE(outs[0] == chunk) << "a chunk of " << size << " came altered";
    }

    // Each write ends pending-then-done, and the EV_TXEMPTY after it is a
    // real event: the worker keeps waiting for events.
    for (const char* text : {"one", "two", "three"})
        EXPECT_EQ(serial.Write(text, static_cast<DWORD>(strlen(text))), S_OK) << text;
    EXPECT_EQ(port.Sent(), "onetwothree");
    port.Receive("after");
    EXPECT_EQ(Joined(ReadOuts(serial, 5)), "after");
    EXPECT_TRUE(testenv::PumpUntil([&] { return port.WaitPending(); }, 2000));
    EXPECT_FALSE(trace.Contains(kPolling));

    // A driver whose CancelIoEx finds no wait: SetCommMask ends it instead.
    port.cancelMissesWaits = true;
    const DWORD start = GetTickCount();
    EXPECT_EQ(serial.UnInit(), S_OK);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(CountLines(trace, kWorkerEnded), 1);
}

// 'e': a wait ends with no event; 'r': a byte arrives; 't': a write runs empty.
TEST(CommEvents, PollingOnlyAfterEmptyCompletionsInARow)
{
    const struct {
        const char* script;
        bool polls;
    } cases[] = {
        {"eee", true},
        {"ttrtt", false},  // a transport that never saw an empty completion
        {"eereerttee", false},
        {"eteerree", false},
        {"reeer", true},
    };
    ScriptedPort port;
    for (const auto& c : cases) {
        testenv::TraceCapture trace;
        CSerialCommHelper serial;  // new each time: what one saw, the next has not
        ASSERT_EQ(Connect(serial), S_OK);
        std::string expected;
        for (const char* step = c.script; *step; ++step) {
            if (*step == 'e') {
                ASSERT_TRUE(port.EndWait(0)) << c.script;
            } else if (*step == 'r') {
                port.Receive("r");
                expected += 'r';
            } else {
                ASSERT_EQ(serial.Write("t", 1), S_OK);
            }
            // Wait for the worker to take the step in before the next one.
            ASSERT_TRUE(testenv::PumpUntil([&] { return port.WaitPending() || trace.Contains(kPolling); }, 2000));
        }
        EXPECT_EQ(Joined(ReadOuts(serial, expected.size())), expected) << c.script;
        const int waits = port.WaitsStarted();
        port.Receive("later");
        EXPECT_EQ(Joined(ReadOuts(serial, 5)), "later") << c.script;
        EXPECT_EQ(trace.Contains(kPolling), c.polls) << c.script;
        const bool waitedAgain = testenv::PumpUntil([&] { return port.WaitsStarted() > waits; }, c.polls ? 100 : 2000);
        EXPECT_EQ(waitedAgain, !c.polls) << c.script;
        EXPECT_EQ(serial.UnInit(), S_OK);
    }
}

TEST(CommEvents, FailedReadKeepsEarlierBytesEndsTheWorkerAndWritesStayHonest)
{
    testenv::TraceCapture trace;
    ScriptedPort port;
    port.failReadAfter = 23;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK);
    port.Receive("abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(Joined(ReadOuts(serial, 23)), "abcdefghijklmnopqrstuvw");
    EXPECT_TRUE(testenv::PumpUntil([&] { return trace.Contains(kWorkerEnded); }, 2000));
    EXPECT_TRUE(trace.Contains("ERROR reading data on port (1f)"));

    // The transport stays connected and writes say what the port does.
    EXPECT_TRUE(serial.IsConnected());
    EXPECT_EQ(serial.Write("w", 1), S_OK);
    port.writesFail = true;
    EXPECT_EQ(serial.Write("x", 1), E_FAIL);
    EXPECT_EQ(port.Sent(), "w");
    EXPECT_EQ(serial.UnInit(), S_OK);
}

// --- faults ----------------------------------------------------------------------

// A late answer from one candidate port must not be credited to the next.
TEST(CommEvents, NewConnectionStartsWithAnEmptyReceiveBuffer)
{
    for (bool unInitFirst : {false, true}) {
        ScriptedPort port;
        CSerialCommHelper serial;
        ASSERT_EQ(Connect(serial), S_OK);
        port.Receive("late");
        // Drained into the buffer, never read out.
        ASSERT_TRUE(testenv::PumpUntil([&] { return port.InputEmpty(); }, 2000));
        if (unInitFirst)
            serial.UnInit();
        ASSERT_EQ(Connect(serial), S_OK);
        std::string out = "unread";
        EXPECT_EQ(serial.ReadAvailable(out), S_OK);
        EXPECT_EQ(out, "") << (unInitFirst ? "after UnInit" : "Init over an open port");
        serial.UnInit();
    }
}

// A serial driver that never ends a cancelled operation must neither hold
// the caller nor have the operation's record freed under it.
TEST(CommEvents, CancelThatNeverEndsLetsTheCallerGo)
{
    for (OpKind hangs : {kWrite, kRead, kWait}) {
        SCOPED_TRACE(hangs == kWrite ? "write" : hangs == kRead ? "read" : "comm-event wait");
        testenv::TraceCapture trace;
        ScriptedPort port;
        port.hangs = hangs;
        CSerialCommHelper serial;
        ASSERT_EQ(Connect(serial), S_OK);
        const DWORD start = GetTickCount();
        if (hangs == kWrite) {
            EXPECT_EQ(serial.Write("x", 1), E_FAIL);
        } else if (hangs == kRead) {
            port.Receive("abc");
        }
        if (hangs != kWait) {
            // The port is given up: the worker ends and writes fail.
            EXPECT_TRUE(testenv::PumpUntil([&] { return trace.Contains(kWorkerEnded); }, 2000));
            EXPECT_EQ(serial.Write("y", 1), E_FAIL);
        }
        std::string out;
        EXPECT_EQ(serial.ReadAvailable(out), S_OK);
        EXPECT_EQ(serial.UnInit(), S_OK);
        EXPECT_LT(GetTickCount() - start, 2500u);  // about 400 ms expected
        EXPECT_TRUE(trace.Contains("did not end"));
        EXPECT_EQ(port.FinishHanging(), 1) << "the record's event was closed while the port could still end it";

        port.hangs = kNone;
        ASSERT_EQ(Connect(serial), S_OK);
        EXPECT_EQ(serial.Write("z", 1), S_OK);
        EXPECT_EQ(serial.UnInit(), S_OK);
    }
}

}  // namespace

namespace {

// --- bounds and ends ---------------------------------------------------------------

// A worker that ends without being asked leaves no port unread in silence.
TEST(CommEvents, WorkerThatCannotWaitForEventsPollsOrReportsTheLinkLost)
{
    for (bool portAnswers : {true, false}) {
        SCOPED_TRACE(portAnswers ? "a driver that refuses overlapped waits" : "the cable pulled before the wait");
        testenv::TraceCapture trace;
        ScriptedPort port;
        port.waitsFail = true;
        port.statusFails = !portAnswers;
        CSerialCommHelper serial;
        ASSERT_EQ(Connect(serial), S_OK);
        if (portAnswers) {
            port.Receive("keys");
            EXPECT_EQ(Joined(ReadOuts(serial, 4)), "keys");
            EXPECT_FALSE(serial.IsLinkLost());
        } else {
            EXPECT_TRUE(testenv::PumpUntil([&] { return serial.IsLinkLost(); }, 2000));
            EXPECT_TRUE(trace.Contains(kWorkerEnded));
        }
        EXPECT_EQ(serial.UnInit(), S_OK);
    }
}

// A port slow to report its status (a stalling hub) holds neither the
// owner's read-out nor its disconnection; the worker it holds is ended
// before the port is opened again.
TEST(CommEvents, StallingPortHoldsNeitherReadOutNorUnInit)
{
    testenv::TraceCapture trace;
    ScriptedPort port;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK);
    port.statusDelayMs = 1500;
    const int reads = port.statusReads;
    port.Receive("k");
    ASSERT_TRUE(testenv::PumpUntil([&] { return port.statusReads > reads; }, 2000));
    testenv::Stopwatch watch;
    std::string out;
    EXPECT_EQ(serial.ReadAvailable(out), S_OK);
    EXPECT_LT(watch.Ms(), 500.0) << "the read-out waited for the port";
    watch = testenv::Stopwatch();
    EXPECT_EQ(serial.UnInit(), S_OK);
    EXPECT_LT(watch.Ms(), 1000.0) << "UnInit waited for the worker without bound";
    EXPECT_FALSE(serial.IsConnected());

    port.statusDelayMs = 0;
    EXPECT_TRUE(testenv::PumpUntil([&] { return trace.Contains(kWorkerEnded); }, 3000));
    ASSERT_EQ(Connect(serial), S_OK);
    port.Receive("again");
    EXPECT_EQ(Joined(ReadOuts(serial, 5)), "again");
    EXPECT_EQ(serial.UnInit(), S_OK);
}

// A record left to a driver that would not end its operation is freed once
// the operation ends; until then the port is not opened again, so records
// do not pile up one per reconnection.
TEST(CommEvents, RecordLeftToTheSystemIsFreedAndNeverJoinedByASecond)
{
    ScriptedPort port;
    port.hangs = kWrite;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK);
    EXPECT_EQ(serial.Write("x", 1), E_FAIL);
    EXPECT_EQ(serial.UnInit(), S_OK);
    EXPECT_EQ(Connect(serial), E_FAIL) << "a second record could be left to the same driver";
    const std::vector<HANDLE> events = port.HangingEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(port.FinishHanging(), 1);
    EXPECT_EQ(serial.UnInit(), S_OK);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(events[0], &flags)) << "the record's event outlived its operation";

    port.hangs = kNone;
    ASSERT_EQ(Connect(serial), S_OK);
    EXPECT_EQ(serial.Write("y", 1), S_OK);
    EXPECT_EQ(serial.UnInit(), S_OK);
}

// The frames as the display reads them off the wire (id, then payload):
// it trusts the length byte, with no other way to find a frame's end.
std::vector<std::string> FramesAsRead(const std::string& wire)
{
    std::vector<std::string> frames;
    size_t at = wire.find('\x1B');
    while (at != std::string::npos && at + 2 < wire.size()) {
        const size_t length = static_cast<BYTE>(wire[at + 2]);
        if (at + 3 + length > wire.size())
            break;
        frames.push_back(wire[at + 1] + wire.substr(at + 3, length));
        at = wire.find('\x1B', at + 3 + length);
    }
    return frames;
}

// A write that times out after part of its frame reached the wire leaves
// the display waiting for the rest: the next frame must still be read as a
// frame, whatever the cut.
TEST(CommEvents, FrameCutByAStalledWriteDoesNotSwallowTheNextOne)
{
    const std::string first(40, '\x11'), cut(40, '\x22'), next(40, '\x33');
    for (size_t reached : {1, 2, 3, 20, 42}) {
        SCOPED_TRACE(reached);
        ScriptedPort port;
        TestDisplay display(TestDisplay::RecordOnly);
        ASSERT_TRUE(display.ConnectTo("COM7"));
        display.ProcessInitRespMsg(0, 0, 40);
        ASSERT_TRUE(display.DisplayBraille(reinterpret_cast<const BYTE*>(first.data()), 40));
        port.wireStallsAt = port.Sent().size() + reached;
        EXPECT_FALSE(display.DisplayBraille(reinterpret_cast<const BYTE*>(cut.data()), 40));
        port.wireStallsAt = 0;
        ASSERT_TRUE(display.DisplayBraille(reinterpret_cast<const BYTE*>(next.data()), 40));
        const std::vector<std::string> frames = FramesAsRead(port.Sent());
        ASSERT_FALSE(frames.empty());
        EXPECT_TRUE(frames.back() == "\x02" + next) << "the newest line was read as the tail of the cut one";
        display.Disconnect();
    }
}

}  // namespace
