// The transport on the comm-event path that Windows runs: a scripted port
// stands in for the serial driver through the transport's seams and plays
// its events as Windows documents them. (A pseudo-terminal under Wine only
// ever completes waits with no event, so the port-pair tests never get here.)
#include "DriverEnv.h"
#include "link/CSerialCommHelper.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// What the scripted port does with an overlapped record: as the system
// does, it fills Internal and InternalHigh and then sets the record's event.
// Internal holds STATUS_PENDING while the operation runs, then the Win32
// result (0 for success).
const ULONG_PTR kPending = 0x103;  // STATUS_PENDING
// How long a serial driver that will not end a cancelled operation keeps
// GetOverlappedResult(..., TRUE) waiting before it lets go after all.
const DWORD kLateDriverMs = 5000;

enum OpKind { kNone, kWait, kRead, kWrite };

// A serial port and its driver, scripted. One at a time: the seams take
// plain functions, which reach the port through g_port.
class ScriptedPort {
public:
    ScriptedPort();
    ~ScriptedPort();
    ScriptedPort(const ScriptedPort&) = delete;
    ScriptedPort& operator=(const ScriptedPort&) = delete;

    // Behaviour: operations of this kind go pending and never end, nor does
    // a cancel of them end them.
    OpKind hangs = kNone;
    // The read after this many bytes fails with readError (0: none fails).
    size_t failReadAfter = 0;
    DWORD readError = ERROR_GEN_FAILURE;
    bool writesFail = false;
    // CancelIoEx finds no comm-event wait to cancel (as some drivers answer).
    bool cancelMissesWaits = false;

    // The line: bytes that arrive (EV_RXCHAR) and what was written to it.
    void Receive(const std::string& bytes);
    std::string Sent();
    bool InputEmpty();
    // Ends the pending comm-event wait with this mask (0: no event), once
    // the worker has one pending; false when none came.
    bool EndWait(DWORD mask);
    bool WaitPending();
    int WaitsStarted();
    // Ends the operations left hanging, writing into their records as a
    // driver finally would; returns how many of them still had their event.
    int FinishHanging();

    // The seams.
    HANDLE Open();
    BOOL WaitCommEvent(DWORD* mask, OVERLAPPED* ov);
    BOOL ClearCommError(COMSTAT* status);
    BOOL ReadFile(void* buffer, DWORD size, OVERLAPPED* ov);
    BOOL WriteFile(const void* data, DWORD size, OVERLAPPED* ov);
    BOOL SetCommMask(DWORD mask);
    BOOL PurgeComm(DWORD flags);
    BOOL CancelIoEx(OVERLAPPED* ov);
    BOOL GetOverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait);

private:
    struct Op {
        OpKind kind;
        OVERLAPPED* ov;
        HANDLE event;  // as it was when the operation began
        char* buffer;
        DWORD* mask;
    };
    BOOL Pend(const Op& op);
    void Complete(const Op& op, DWORD error, ULONG_PTR bytes);
    void CompleteLocked(OpKind kind, DWORD error);
    void RaiseLocked(DWORD events);
    static DWORD CALLBACK FinishWrite(void* op);

    std::recursive_mutex m_lock;
    std::string m_input, m_sent;
    size_t m_delivered = 0;
    DWORD m_mask = 0, m_history = 0;
    int m_waits = 0;
    std::vector<Op> m_pending;  // at most one of each kind
    std::vector<Op> m_hanging;  // cancelled, never to end by themselves
    LONG m_writesInFlight = 0;
    const SerialPortCalls* m_previousCalls;
    CSerialCommHelper::OpenPortFn m_previousOpen;
};

ScriptedPort* g_port = nullptr;

// --- the seams: plain functions onto g_port -------------------------------

HANDLE OpenScripted(const char*) { return g_port->Open(); }
BOOL WINAPI ScriptedWait(HANDLE, LPDWORD mask, LPOVERLAPPED ov) { return g_port->WaitCommEvent(mask, ov); }
BOOL WINAPI ScriptedClear(HANDLE, LPDWORD errors, LPCOMSTAT status)
{
    if (errors)
        *errors = 0;
    return g_port->ClearCommError(status);
}
BOOL WINAPI ScriptedRead(HANDLE, LPVOID buffer, DWORD size, LPDWORD, LPOVERLAPPED ov)
{
    return g_port->ReadFile(buffer, size, ov);
}
BOOL WINAPI ScriptedWrite(HANDLE, LPCVOID data, DWORD size, LPDWORD, LPOVERLAPPED ov)
{
    return g_port->WriteFile(data, size, ov);
}
BOOL WINAPI ScriptedSetMask(HANDLE, DWORD mask) { return g_port->SetCommMask(mask); }
BOOL WINAPI ScriptedPurge(HANDLE, DWORD flags) { return g_port->PurgeComm(flags); }
BOOL WINAPI ScriptedCancel(HANDLE, LPOVERLAPPED ov) { return g_port->CancelIoEx(ov); }
BOOL WINAPI ScriptedResult(HANDLE, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait)
{
    return g_port->GetOverlappedResult(ov, transferred, wait);
}
BOOL WINAPI Succeed(HANDLE) { return TRUE; }
BOOL WINAPI SucceedWithDcb(HANDLE, LPDCB) { return TRUE; }
BOOL WINAPI SucceedWithTimeouts(HANDLE, LPCOMMTIMEOUTS) { return TRUE; }

const SerialPortCalls kScriptedCalls = {
    ScriptedPurge, Succeed,       ScriptedSetMask, SucceedWithDcb, SucceedWithDcb, SucceedWithTimeouts,
    ScriptedWait,  ScriptedClear, ScriptedRead,   ScriptedWrite,  ScriptedCancel, ScriptedResult,
};

// --- the scripted port --------------------------------------------------------

ScriptedPort::ScriptedPort()
{
    g_port = this;
    m_previousCalls = CSerialCommHelper::SetPortCalls(&kScriptedCalls);
    m_previousOpen = CSerialCommHelper::SetOpenPortFn(OpenScripted);
}

ScriptedPort::~ScriptedPort()
{
    FinishHanging();
    while (InterlockedCompareExchange(&m_writesInFlight, 0, 0) != 0)
        Sleep(1);
    CSerialCommHelper::SetPortCalls(m_previousCalls);
    CSerialCommHelper::SetOpenPortFn(m_previousOpen);
    g_port = nullptr;
}

// The transport closes its port with CloseHandle: an event stands in.
HANDLE ScriptedPort::Open()
{
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void ScriptedPort::Receive(const std::string& bytes)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_input += bytes;
    RaiseLocked(EV_RXCHAR);
}

std::string ScriptedPort::Sent()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_sent;
}

bool ScriptedPort::InputEmpty()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_input.empty();
}

bool ScriptedPort::WaitPending()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return std::any_of(m_pending.begin(), m_pending.end(), [](const Op& op) { return op.kind == kWait; });
}

int ScriptedPort::WaitsStarted()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_waits;
}

bool ScriptedPort::EndWait(DWORD mask)
{
    if (!testenv::PumpUntil([this] { return WaitPending(); }, 2000))
        return false;
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    for (const Op& op : m_pending)
        if (op.kind == kWait)
            *op.mask = mask;
    CompleteLocked(kWait, 0);
    return true;
}

int ScriptedPort::FinishHanging()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    int alive = 0;
    for (const Op& op : m_hanging) {
        if (op.buffer)
            op.buffer[0] = 'z';
        op.ov->Internal = ERROR_OPERATION_ABORTED;
        op.ov->InternalHigh = 0;
        alive += SetEvent(op.event) ? 1 : 0;
    }
    m_hanging.clear();
    return alive;
}

// An event in the mask ends the pending wait; with none pending, the port
// remembers it and the next wait ends at once.
void ScriptedPort::RaiseLocked(DWORD events)
{
    events &= m_mask;
    if (!events)
        return;
    for (const Op& op : m_pending) {
        if (op.kind == kWait && hangs != kWait) {
            *op.mask = events;
            CompleteLocked(kWait, 0);
            return;
        }
    }
    m_history |= events;
}

BOOL ScriptedPort::WaitCommEvent(DWORD* mask, OVERLAPPED* ov)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    ++m_waits;
    if (m_history && hangs != kWait) {
        *mask = m_history;
        m_history = 0;
        Complete({kWait, ov, ov->hEvent, nullptr, mask}, 0, sizeof(DWORD));
        return TRUE;
    }
    return Pend({kWait, ov, ov->hEvent, nullptr, mask});
}

BOOL ScriptedPort::ClearCommError(COMSTAT* status)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(m_input.size());
    return TRUE;
}

// With bytes waiting a read ends at once, as on Windows.
BOOL ScriptedPort::ReadFile(void* buffer, DWORD size, OVERLAPPED* ov)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (hangs == kRead)
        return Pend({kRead, ov, ov->hEvent, static_cast<char*>(buffer), nullptr});
    if (failReadAfter && m_delivered >= failReadAfter) {
        SetLastError(readError);
        return FALSE;
    }
    size_t count = std::min<size_t>(size, m_input.size());
    if (failReadAfter)
        count = std::min(count, failReadAfter - m_delivered);
    memcpy(buffer, m_input.data(), count);
    m_input.erase(0, count);
    m_delivered += count;
    Complete({kRead, ov, ov->hEvent, nullptr, nullptr}, 0, count);
    return TRUE;
}

// A write goes pending and ends on another thread; the output then runs
// empty (EV_TXEMPTY).
BOOL ScriptedPort::WriteFile(const void* data, DWORD size, OVERLAPPED* ov)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (writesFail) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    m_sent.append(static_cast<const char*>(data), size);
    const BOOL pended = Pend({kWrite, ov, ov->hEvent, nullptr, nullptr});
    if (hangs != kWrite) {
        InterlockedIncrement(&m_writesInFlight);
        if (!QueueUserWorkItem(FinishWrite, this, WT_EXECUTEDEFAULT))
            InterlockedDecrement(&m_writesInFlight);
    }
    return pended;
}

DWORD CALLBACK ScriptedPort::FinishWrite(void* param)
{
    auto* port = static_cast<ScriptedPort*>(param);
    Sleep(1);
    {
        std::lock_guard<std::recursive_mutex> lock(port->m_lock);
        port->CompleteLocked(kWrite, 0);
        port->RaiseLocked(EV_TXEMPTY);
    }
    InterlockedDecrement(&port->m_writesInFlight);
    return 0;
}

// A new mask ends a pending wait at once, with no event.
BOOL ScriptedPort::SetCommMask(DWORD mask)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_mask = mask;
    m_history = 0;
    for (const Op& op : m_pending)
        if (op.kind == kWait)
            *op.mask = 0;
    CompleteLocked(kWait, 0);
    return TRUE;
}

BOOL ScriptedPort::PurgeComm(DWORD flags)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (flags & PURGE_RXCLEAR)
        m_input.clear();
    if (flags & PURGE_RXABORT)
        CompleteLocked(kRead, ERROR_OPERATION_ABORTED);
    if (flags & PURGE_TXABORT)
        CompleteLocked(kWrite, ERROR_OPERATION_ABORTED);
    return TRUE;
}

BOOL ScriptedPort::CancelIoEx(OVERLAPPED* ov)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [ov](const Op& op) { return op.ov == ov; });
    if (it == m_pending.end() || (it->kind == kWait && cancelMissesWaits)) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    if (it->kind == hangs) {
        m_hanging.push_back(*it);
        m_pending.erase(it);
        return TRUE;
    }
    CompleteLocked(it->kind, ERROR_OPERATION_ABORTED);
    return TRUE;
}

// As the system's: waits on the record's event; a driver that never ends a
// cancelled operation lets go only after kLateDriverMs.
BOOL ScriptedPort::GetOverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait)
{
    if (ov->Internal == kPending) {
        if (!wait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        if (WaitForSingleObject(ov->hEvent, kLateDriverMs) != WAIT_OBJECT_0) {
            std::lock_guard<std::recursive_mutex> lock(m_lock);
            m_hanging.erase(std::remove_if(m_hanging.begin(), m_hanging.end(),
                                           [ov](const Op& op) { return op.ov == ov; }),
                            m_hanging.end());
            Complete({kNone, ov, ov->hEvent, nullptr, nullptr}, ERROR_OPERATION_ABORTED, 0);
        }
    }
    *transferred = static_cast<DWORD>(ov->InternalHigh);
    if (ov->Internal == 0)
        return TRUE;
    SetLastError(static_cast<DWORD>(ov->Internal));
    return FALSE;
}

BOOL ScriptedPort::Pend(const Op& op)
{
    op.ov->Internal = kPending;
    op.ov->InternalHigh = 0;
    ResetEvent(op.event);
    m_pending.push_back(op);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

void ScriptedPort::Complete(const Op& op, DWORD error, ULONG_PTR bytes)
{
    op.ov->Internal = error;
    op.ov->InternalHigh = bytes;
    SetEvent(op.event);
}

void ScriptedPort::CompleteLocked(OpKind kind, DWORD error)
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [kind](const Op& op) { return op.kind == kind; });
    if (it == m_pending.end())
        return;
    const Op op = *it;
    m_pending.erase(it);
    Complete(op, error, op.kind == kWait ? sizeof(DWORD) : 0);
}

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
