// CSerialCommHelper: the worker thread, which waits for the port's comm
// events (or polls a port that gives none) and drains it into the receive
// buffer.
#include "LibraryHold.h"
#include "PortOperation.h"
#include "Trace.h"

#include <algorithm>

namespace {

const DWORD kReadBlockSize = 10;
// A read is only made for bytes the port reports waiting, so it completes at
// once; the bound only guards against a read that goes pending regardless.
const DWORD kReadWaitMs = 50;
// Some serial drivers (Wine's among them) complete comm-event waits with no
// event at all, in a tight loop, and spend memory on every wait. After a few
// such completions in a row the worker stops waiting for comm events and
// looks for received bytes at this period instead.
const int kEmptyEventsBeforePolling = 3;
const DWORD kPollPeriodMs = 10;

}  // namespace

// The worker holds the library loaded (StartWorker took the hold for it).
unsigned __stdcall CSerialCommHelper::ThreadFn(void* pvParam)
{
    static_cast<CSerialCommHelper*>(pvParam)->WorkerLoop();
    LibraryHold::EndThread(0);
}

void CSerialCommHelper::WorkerLoop()
{
    // Both records live as long as the worker: a pass allocates nothing
    // (under polling there is one every few milliseconds).
    PortOperation* wait = PortOperation::New(0);
    PortOperation* read = PortOperation::New(kReadBlockSize);
    if (wait == nullptr || read == nullptr) {
        Trace("CSerialCommHelper::ThreadFn -> no memory for the worker's records, ended");
        PortOperation::Free(wait);
        PortOperation::Free(read);
        return;
    }
    Trace("CSerialCommHelper::ThreadFn -> started");
    SetEvent(m_hThreadReady);
    // A port known for empty events is polled from the start.
    int emptyEvents = m_bEmptyCommEvents ? kEmptyEventsBeforePolling : 0;
    bool keepRunning = true;
    while (keepRunning)
        keepRunning = emptyEvents >= kEmptyEventsBeforePolling ? PollPass(read) : EventPass(wait, read, emptyEvents);
    PortOperation::Free(wait);
    PortOperation::Free(read);
    // Nobody reads the port any more: unless asked to end, the owner must know.
    if (!m_bStopAsked)
        MarkLinkLost("ThreadFn");
    Trace("CSerialCommHelper::ThreadFn -> ended");
}

// One comm-event wait and the drain pass it leads to; false when the
// transport is being stopped or the port failed.
bool CSerialCommHelper::EventPass(PortOperation*& wait, PortOperation*& read, int& emptyEvents)
{
    wait->dwEventMask = 0;
    bool outstanding = false;
    if (!StartCommWait(*wait, outstanding))
        return WaitRefused(emptyEvents);
    HANDLE handles[2] = {m_hStopEvent, wait->overlapped.hEvent};
    // The stop event comes first, so it wins when both are set.
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        if (outstanding)
            EndCommWait(wait);
        return false;
    }
    DWORD total = 0;
    const bool keepRunning = DrainPass(read, total);
    ResetEvent(wait->overlapped.hEvent);
    emptyEvents = (wait->dwEventMask == 0 && total == 0) ? emptyEvents + 1 : 0;
    if (emptyEvents == kEmptyEventsBeforePolling) {
        Trace("CSerialCommHelper::ThreadFn -> empty comm events, polling the port instead");
        m_bEmptyCommEvents = true;
    }
    return keepRunning;
}

// A comm-event wait that fails at once: a port that still answers (its driver
// refuses overlapped waits) is polled instead; one that does not is gone.
bool CSerialCommHelper::WaitRefused(int& emptyEvents)
{
    const DWORD error = GetLastError();
    DWORD waiting = 0;
    if (!BytesWaiting(waiting)) {
        TraceReadError(error);
        return false;
    }
    Trace("CSerialCommHelper::ThreadFn -> the port refuses comm-event waits (%lu), polling it instead", error);
    emptyEvents = kEmptyEventsBeforePolling;
    return true;
}

// False when the wait failed at once; outstanding tells whether it must be
// ended before its record goes.
bool CSerialCommHelper::StartCommWait(PortOperation& wait, bool& outstanding)
{
    outstanding = false;
    if (Port().WaitCommEvent(m_hPort, &wait.dwEventMask, &wait.overlapped)) {
        SetEvent(wait.overlapped.hEvent);
        return true;
    }
    outstanding = GetLastError() == ERROR_IO_PENDING;
    return outstanding;
}

void CSerialCommHelper::EndCommWait(PortOperation*& wait)
{
    OVERLAPPED& overlapped = wait->overlapped;
    if (!Port().CancelIoEx(m_hPort, &overlapped) && WaitForSingleObject(overlapped.hEvent, 0) != WAIT_OBJECT_0)
        Port().SetCommMask(m_hPort, 0);  // also ends a pending wait
    AwaitCancelled(wait, "ThreadFn");
}

// One look for received bytes after a pause; false when the transport is
// being stopped or a read failed.
bool CSerialCommHelper::PollPass(PortOperation*& read)
{
    if (WaitForSingleObject(m_hStopEvent, kPollPeriodMs) != WAIT_TIMEOUT)
        return false;
    DWORD total = 0;
    return DrainPass(read, total);
}

// Every comm event leads here: a character arrived or the output ran empty.
// The port is read without the receive buffer's lock, which the owner's
// read-out also takes: a port slow to answer must not hold the owner up.
// The pass's bytes are then stored in one go, so the owner still receives
// whole passes.
bool CSerialCommHelper::DrainPass(PortOperation*& read, DWORD& total)
{
    std::string pass;
    bool keepRunning = true;
    try {
        keepRunning = DrainPort(read, pass);
    } catch (...) {
        Trace("CSerialCommHelper::DrainPass -> could not store the received bytes");
    }
    total = StorePass(pass);
    if (total > 0)
        SetDataReadEvent();
    return keepRunning;
}

// Bytes that arrive while the transport is not started are dropped.
DWORD CSerialCommHelper::StorePass(const std::string& pass)
{
    DWORD stored = 0;
    m_rxBuffer.Lock();
    try {
        if (m_state == CS_Started && !pass.empty()) {
            m_rxBuffer.AddData(pass.data(), pass.size());
            stored = static_cast<DWORD>(pass.size());
        }
    } catch (...) {
        Trace("CSerialCommHelper::DrainPass -> could not store the received bytes");
    }
    m_rxBuffer.Unlock();
    return stored;
}

// Reads in small blocks what the port reports waiting, until nothing is left.
// Never asks for more than is waiting: an overlapped read of an empty port may
// go pending on some platforms even with "return at once" time-outs.
bool CSerialCommHelper::DrainPort(PortOperation*& read, std::string& pass)
{
    if (read == nullptr) {
        TraceReadError(GetLastError());
        return false;
    }
    for (;;) {
        DWORD waiting = 0;
        if (!BytesWaiting(waiting)) {
            TraceReadError(GetLastError());
            return false;
        }
        if (waiting == 0)
            return true;
        DWORD got = 0;
        if (!ReadBlock(read, std::min(waiting, kReadBlockSize), got)) {
            TraceReadError(GetLastError());
            return false;
        }
        if (got == 0)
            return true;
        pass.append(read->pBytes, got);
    }
}

bool CSerialCommHelper::BytesWaiting(DWORD& count)
{
    COMSTAT status{};
    DWORD errors = 0;
    if (!Port().ClearCommError(m_hPort, &errors, &status))
        return false;
    count = status.cbInQue;
    return true;
}

// False when the read failed or was left to the system (read is then null).
bool CSerialCommHelper::ReadBlock(PortOperation*& read, DWORD size, DWORD& got)
{
    got = 0;
    OVERLAPPED& overlapped = read->overlapped;
    ResetEvent(overlapped.hEvent);
    if (!Port().ReadFile(m_hPort, read->pBytes, size, nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        if (WaitForSingleObject(overlapped.hEvent, kReadWaitMs) != WAIT_OBJECT_0) {
            Port().CancelIoEx(m_hPort, &overlapped);
            if (!AwaitCancelled(read, "ThreadFn"))
                return false;
        }
    }
    // The read is over by now, so this returns at once.
    if (Port().GetOverlappedResult(m_hPort, &overlapped, &got, TRUE))
        return true;
    if (GetLastError() != ERROR_OPERATION_ABORTED)
        return false;
    // A cancelled read keeps what it had already copied.
    got = static_cast<DWORD>(overlapped.InternalHigh);
    return true;
}

void CSerialCommHelper::TraceReadError(DWORD error)
{
    Trace("CSerialCommHelper::DrainPort -> ERROR reading data on port (%lx)", error);
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
                   nullptr);
    Trace("CSerialCommHelper::DrainPort -> ERROR = %s", text ? text : "");
    if (text)
        LocalFree(text);
}
