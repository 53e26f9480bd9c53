// The transport's pending read, on a scripted port standing in for the
// serial driver through the transport's seams: what the port pairs cannot
// play (a driver slow to cancel, each error a read can end with, a port
// slow to answer) and the exact moments bytes arrive.
#include "DriverEnv.h"
#include "ScriptedSerialPort.h"
#include "TestDisplay.h"
#include "link/CSerialCommHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using testenv::ScriptedPort;
using testenv::kNone;
using testenv::kRead;
using testenv::kWrite;
using testenv::OpKind;

// --- helpers of the tests ----------------------------------------------------

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

// --- the pending read ---------------------------------------------------------

// Each chunk is one pass: its first byte ends the pending read, the rest is
// read at once with it, and the owner's data event is set.
TEST(ScriptedTransport, BytesArriveWholeAndInOrderAndAnIdlePortIsNotPolled)
{
    ScriptedPort port;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK);

    // Every byte value, 0x00 and 0x1B included; sizes around the largest read.
    std::string all;
    for (int i = 0; i < 9000; ++i)
        all += static_cast<char>(i * 7 + i / 256);
    size_t at = 0;
    for (size_t size : {1, 2, 37, 4096, 4097}) {
        const std::string chunk = all.substr(at, size);
        at += size;
        ASSERT_TRUE(testenv::PumpUntil([&] { return port.ReadPending(); }, 2000)) << "no read waits on the port";
        port.Receive(chunk);
        EXPECT_EQ(WaitForSingleObject(serial.GetDataReadEvent(), 2000), WAIT_OBJECT_0) << size;
        const std::vector<std::string> outs = ReadOuts(serial, chunk.size());
        ASSERT_EQ(outs.size(), 1u) << "a chunk of " << size << " came in pieces";
        EXPECT_TRUE(outs[0] == chunk) << "a chunk of " << size << " came altered";
    }

    const int statusReads = port.statusReads;
    Sleep(300);  // nothing may happen meanwhile: only a span of time shows it
    EXPECT_EQ(port.statusReads, statusReads) << "the worker looks at an idle port";
    EXPECT_TRUE(port.ReadPending());
    for (const char* text : {"one", "two", "three"})
        EXPECT_EQ(serial.Write(text, static_cast<DWORD>(strlen(text))), S_OK) << text;
    EXPECT_EQ(port.Sent(), "onetwothree");
    EXPECT_EQ(serial.UnInit(), S_OK);
}

// Bytes that come while a pass reads the port: those counted go with the
// pass, the later ones with the next; none is lost or doubled.
TEST(ScriptedTransport, BytesArrivingWhileAPassRunsAreNeitherLostNorDoubled)
{
    ScriptedPort port;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK);
    port.statusDelayMs = 200;
    const int statusReads = port.statusReads;
    port.Receive("a");
    ASSERT_TRUE(testenv::PumpUntil([&] { return port.statusReads > statusReads; }, 2000));
    port.Receive("bcd");
    EXPECT_EQ(ReadOuts(serial, 4), std::vector<std::string>{"abcd"});

    port.statusDelayMs = 1;
    std::string sent;
    for (int i = 0; i < 3000; ++i)
        sent += static_cast<char>(i * 13 + i / 256);
    std::thread sender([&] {
        for (size_t from = 0; from < sent.size(); from += 1 + from % 7) {
            port.Receive(sent.substr(from, 1 + from % 7));
            if (from % 5 == 0)
                Sleep(1);
        }
    });
    const std::string got = Joined(ReadOuts(serial, sent.size()));
    sender.join();
    EXPECT_TRUE(got == sent) << "bytes were reordered, repeated or lost (" << got.size() << " of " << sent.size()
                             << ")";
    EXPECT_EQ(serial.UnInit(), S_OK);
}

// Whatever error ends a read (the device removed, the pipe broken, access
// taken away, the read aborted by someone else), the link is lost at once:
// the owner then reconnects. Bytes read before the failure are kept.
TEST(ScriptedTransport, FailedReadMarksTheLinkLostAtOnceAndKeepsTheBytesBefore)
{
    const DWORD errors[] = {ERROR_GEN_FAILURE, ERROR_BROKEN_PIPE, ERROR_ACCESS_DENIED, ERROR_OPERATION_ABORTED,
                            ERROR_DEVICE_NOT_CONNECTED};
    enum Where { kPendingRead, kReadOfTheRest, kPortStatus };
    for (DWORD error : errors) {
        for (Where where : {kPendingRead, kReadOfTheRest, kPortStatus}) {
            SCOPED_TRACE(testing::Message() << "error " << error << ", where " << where);
            testenv::TraceCapture trace;
            ScriptedPort port;
            CSerialCommHelper serial;
            ASSERT_EQ(Connect(serial), S_OK);
            port.Receive("keys");
            ASSERT_EQ(Joined(ReadOuts(serial, 4)), "keys");
            ASSERT_TRUE(testenv::PumpUntil([&] { return port.ReadPending(); }, 2000));
            EXPECT_FALSE(serial.IsLinkLost());
            if (where == kPendingRead) {
                port.FailPendingRead(error);
                if (error == ERROR_OPERATION_ABORTED) {  // made again once (see below)
                    ASSERT_TRUE(testenv::PumpUntil([&] { return port.ReadPending(); }, 2000));
                    port.FailPendingRead(error);
                }
            } else {
                port.failReadAfter = 4 + 1;  // the pass's first byte, then the read of the rest fails
                port.readError = error;
                port.statusFails = where == kPortStatus;
                port.Receive("abcdef");
            }
            EXPECT_TRUE(testenv::PumpUntil([&] { return serial.IsLinkLost(); }, 2000));
            EXPECT_TRUE(trace.Contains(kWorkerEnded));
            const std::string before = where == kPendingRead ? "" : "a";
            EXPECT_EQ(Joined(ReadOuts(serial, before.size())), before);
            EXPECT_TRUE(trace.Contains("ERROR reading data on port"));
            EXPECT_EQ(serial.UnInit(), S_OK);
        }
    }
}

// --- what Windows does and Wine never -----------------------------------------

// Windows keeps a port's settings from one program to the next: whatever the
// last one left, the transport sets every setting that changes the bytes or
// that the driver refuses (equal XON and XOFF characters, flow limits beyond
// its queue), and every byte value arrives (the keys T1 and T3 are 0x11 and
// 0x13, blank cells and the init answer hold zeros). A flush the port's
// driver does not support is not a reason to give the port up.
TEST(ScriptedTransport, SettingsLeftByThePortsLastUserChangeNoByte)
{
    testenv::TraceCapture trace;
    ScriptedPort port;
    DCB& dcb = port.dcb;
    dcb.fOutX = dcb.fInX = dcb.fNull = dcb.fErrorChar = dcb.fDsrSensitivity = dcb.fAbortOnError = 1;
    dcb.fParity = 1;
    dcb.fBinary = dcb.fTXContinueOnXoff = 0;
    dcb.XonChar = dcb.XoffChar = dcb.ErrorChar = dcb.EvtChar = 0x1B;
    dcb.XonLim = dcb.XoffLim = 8192;
    port.queueSize = 512;
    port.flushFails = true;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK) << "a flush the driver does not support failed the port";
    EXPECT_TRUE(trace.Contains("Error in flushing the COM Port buffers"));
    EXPECT_TRUE(dcb.fBinary && !dcb.fParity && !dcb.fOutX && !dcb.fInX && !dcb.fNull && !dcb.fErrorChar &&
                !dcb.fDsrSensitivity && !dcb.fAbortOnError && dcb.fTXContinueOnXoff)
        << "a setting the last user left still changes the bytes";
    EXPECT_TRUE(dcb.XonChar != dcb.XoffChar && !dcb.ErrorChar && !dcb.EvtChar);

    const std::string keys = {0x1B, 0x05, 0x01, 0x11, 0x1B, 0x06, 0x01, 0x11, 0x1B, 0x05, 0x01, 0x13,
                              0x1B, 0x01, 0x03, 0x00, 0x00, 0x28};
    ASSERT_TRUE(testenv::PumpUntil([&] { return port.ReadPending(); }, 2000));
    port.Receive(keys);
    EXPECT_TRUE(Joined(ReadOuts(serial, keys.size())) == keys) << "bytes were taken by the line's settings";
    port.LineError();  // with abort on error left on, every read would now fail
    port.Receive("after");
    EXPECT_EQ(Joined(ReadOuts(serial, 5)), "after");
    EXPECT_FALSE(serial.IsLinkLost());
    EXPECT_EQ(serial.UnInit(), S_OK);
}

// The port's status unreadable once (ERROR_NOT_READY), or the pending read
// aborted once without a stop asked for: tried again, the link kept. Twice
// in a row: the port is gone.
TEST(ScriptedTransport, AFailureTheTransportDidNotCauseIsTriedAgainOnce)
{
    enum Fault { kStatus, kAbort };
    for (Fault fault : {kStatus, kAbort}) {
        for (int times : {1, 2}) {
            SCOPED_TRACE(testing::Message() << (fault == kStatus ? "status unreadable " : "read aborted ") << times);
            ScriptedPort port;
            CSerialCommHelper serial;
            ASSERT_EQ(Connect(serial), S_OK);
            ASSERT_TRUE(testenv::PumpUntil([&] { return port.ReadPending(); }, 2000));
            port.statusFailures = fault == kStatus ? times : 0;
            for (int i = 0; fault == kAbort && i < times; ++i) {
                ASSERT_TRUE(testenv::PumpUntil([&] { return port.ReadPending(); }, 2000));
                port.FailPendingRead(ERROR_OPERATION_ABORTED);
            }
            port.Receive("k");
            const bool lost = testenv::PumpUntil([&] { return serial.IsLinkLost(); }, times == 1 ? 300 : 2000);
            EXPECT_EQ(lost, times == 2);
            if (times == 1) {
                EXPECT_EQ(Joined(ReadOuts(serial, 1)), "k");
            }
            EXPECT_EQ(serial.UnInit(), S_OK);
        }
    }
}

// --- faults ----------------------------------------------------------------------

// A late answer from one candidate port must not be credited to the next.
TEST(ScriptedTransport, NewConnectionStartsWithAnEmptyReceiveBuffer)
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

// A serial driver may end a cancelled operation late, or never: the caller
// is let go within a bound, and a record the driver still holds is never
// freed under it. Windows keeps the port busy until the operation ends: the
// opening is retried three times a second apart, then given up (the owner's
// watch tries again later). A driver that lets a new handle open meanwhile
// is held to a bound of such records.
TEST(ScriptedTransport, CancelEndingLateOrNeverLetsTheCallerGoAndKeepsTheRecord)
{
    const struct {
        OpKind hangs;
        bool endsInTime;
        const char* what;
    } cases[] = {
        {kRead, true, "the pending read's cancel ends late, within the bound"},
        {kRead, false, "the pending read's cancel never ends"},
        {kWrite, false, "a write's cancel never ends"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testenv::TraceCapture trace;
        ScriptedPort port;
        port.hangs = c.hangs;
        CSerialCommHelper serial;
        ASSERT_EQ(Connect(serial), S_OK);
        testenv::Stopwatch watch;
        if (c.hangs == kWrite) {
            EXPECT_EQ(serial.Write("x", 1), E_FAIL);
            // The port is given up: the worker ends and writes fail.
            EXPECT_TRUE(testenv::PumpUntil([&] { return serial.IsLinkLost(); }, 2000));
            EXPECT_EQ(serial.Write("y", 1), E_FAIL);
        }
        std::thread lateDriver([&] {
            if (c.endsInTime && testenv::WaitFor([&] { return !port.HangingEvents().empty(); }, 2000)) {
                Sleep(100);  // late, but within UnInit's bound
                port.FinishHanging();
            }
        });
        EXPECT_EQ(serial.UnInit(), S_OK);
        lateDriver.join();
        EXPECT_LT(watch.Ms(), 2500.0);  // about 400 ms expected
        EXPECT_EQ(trace.Contains("did not end"), !c.endsInTime);
        if (!c.endsInTime) {
            EXPECT_EQ(Connect(serial), E_FAIL) << "opened while an operation of the old handle runs";
            EXPECT_TRUE(trace.Contains("Port after 3 retries."));
            // Each opening leaves one more record, until the bound refuses.
            port.exclusive = false;
            int openings = 0;
            while (openings < 10 && Connect(serial) == S_OK) {
                ++openings;
                if (c.hangs == kWrite)
                    serial.Write("x", 1);
                serial.UnInit();
            }
            EXPECT_EQ(openings, CSerialCommHelper::kMaxHeldRecords - CSerialCommHelper::kOperationsPerOpening)
                << "records held kept a new handle from opening, or had no bound";
            EXPECT_TRUE(trace.Contains("have not ended"));
            const std::vector<HANDLE> events = port.HangingEvents();
            ASSERT_EQ(events.size(), static_cast<size_t>(openings + 1));
            EXPECT_EQ(port.FinishHanging(), openings + 1)
                << "a record's event was closed while the driver could still end it";
            port.hangs = kNone;
            port.exclusive = true;
            ASSERT_EQ(Connect(serial), S_OK);
            EXPECT_EQ(serial.UnInit(), S_OK);
            for (HANDLE event : events) {
                DWORD flags = 0;
                EXPECT_FALSE(GetHandleInformation(event, &flags)) << "a record's event outlived its operation";
            }
        }
        port.hangs = kNone;
        ASSERT_EQ(Connect(serial), S_OK);
        EXPECT_EQ(serial.Write("z", 1), S_OK);
        EXPECT_EQ(serial.UnInit(), S_OK);
    }
}

// --- bounds and ends ---------------------------------------------------------------

// A port slow to report its status (a stalling hub) holds neither the
// owner's read-out nor its disconnection, which says that the port is not
// free yet; the worker it holds is ended before the port is opened again.
TEST(ScriptedTransport, StallingPortHoldsNeitherReadOutNorUnInit)
{
    testenv::TraceCapture trace;
    ScriptedPort port;
    CSerialCommHelper serial;
    ASSERT_EQ(Connect(serial), S_OK);
    port.statusDelayMs = CSerialCommHelper::kWorkerEndWaitMs + 1500;
    const int reads = port.statusReads;
    port.Receive("k");
    ASSERT_TRUE(testenv::PumpUntil([&] { return port.statusReads > reads; }, 2000));
    testenv::Stopwatch watch;
    std::string out;
    EXPECT_EQ(serial.ReadAvailable(out), S_OK);
    EXPECT_LT(watch.Ms(), 500.0) << "the read-out waited for the port";
    watch = testenv::Stopwatch();
    EXPECT_EQ(serial.UnInit(), E_FAIL) << "the worker still runs";
    EXPECT_LT(watch.Ms(), CSerialCommHelper::kWorkerEndWaitMs + 1000.0) << "UnInit waited for the worker without bound";
    EXPECT_TRUE(trace.Contains("the worker thread did not end"));
    EXPECT_FALSE(serial.IsConnected());

    port.statusDelayMs = 0;
    EXPECT_TRUE(testenv::PumpUntil([&] { return trace.Contains(kWorkerEnded); }, 4000));
    ASSERT_EQ(Connect(serial), S_OK);
    port.Receive("again");
    EXPECT_EQ(Joined(ReadOuts(serial, 5)), "again");
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

// A write that times out, or completes short, after part of its frame
// reached the wire leaves the display waiting for the rest: the next frame
// must still be read as a frame, whatever the cut.
TEST(ScriptedTransport, FrameCutByAStalledWriteDoesNotSwallowTheNextOne)
{
    const std::string first(40, '\x11'), cut(40, '\x22'), next(40, '\x33');
    for (size_t reached : {1, 2, 3, 20, 42, 101, 102, 103, 120, 142}) {
        SCOPED_TRACE(reached);
        ScriptedPort port;
        port.stalledWritesEnd = reached > 100;
        reached %= 100;
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
