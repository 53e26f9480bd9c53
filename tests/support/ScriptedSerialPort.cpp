#include "ScriptedSerialPort.h"

#include "TestEnv.h"

#include <algorithm>
#include <cstring>

namespace testenv {

namespace {
ScriptedPort* g_port = nullptr;

// --- the seams: plain functions onto g_port -------------------------------

HANDLE OpenScripted(const char*) { return g_port->Open(); }
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
BOOL WINAPI ScriptedPurge(HANDLE, DWORD flags) { return g_port->PurgeComm(flags); }
BOOL WINAPI ScriptedCancel(HANDLE, LPOVERLAPPED ov) { return g_port->CancelIoEx(ov); }
BOOL WINAPI ScriptedResult(HANDLE, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait)
{
    return g_port->GetOverlappedResult(ov, transferred, wait);
}
BOOL WINAPI ScriptedFlush(HANDLE) { return g_port->FlushFileBuffers(); }
BOOL WINAPI ScriptedGetState(HANDLE, LPDCB dcb) { return g_port->GetCommState(dcb); }
BOOL WINAPI ScriptedSetState(HANDLE, LPDCB dcb) { return g_port->SetCommState(*dcb); }
BOOL WINAPI ScriptedTimeouts(HANDLE, LPCOMMTIMEOUTS timeouts) { return g_port->SetCommTimeouts(*timeouts); }
BOOL WINAPI ScriptedClose(HANDLE handle) { return g_port->Close(handle); }

const SerialPortCalls kScriptedCalls = {
    ScriptedPurge, ScriptedFlush, ScriptedGetState, ScriptedSetState, ScriptedTimeouts,
    ScriptedClear, ScriptedRead,  ScriptedWrite,    ScriptedCancel,   ScriptedResult, ScriptedClose,
};

}  // namespace

// --- the scripted port --------------------------------------------------------

ScriptedPort::ScriptedPort()
{
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = CBR_9600;
    dcb.fBinary = 1;
    dcb.ByteSize = 8;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
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

// An event stands in for the port's handle.
HANDLE ScriptedPort::Open()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (exclusive && (m_openHandles > 0 || !m_pending.empty() || !m_hanging.empty())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    ++m_openHandles;
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

// Closing the handle cancels what is still pending on it.
BOOL ScriptedPort::Close(HANDLE handle)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    AbortLocked(kRead);
    AbortLocked(kWrite);
    --m_openHandles;
    return CloseHandle(handle);
}

void ScriptedPort::Receive(const std::string& bytes)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_input += AsTheLineLetsThrough(bytes);
    DeliverLocked();
}

std::string ScriptedPort::AsTheLineLetsThrough(const std::string& bytes) const
{
    if (dcb.fDsrSensitivity)
        return "";
    std::string through;
    for (char byte : bytes) {
        const bool flowControl = dcb.fOutX && (byte == dcb.XonChar || byte == dcb.XoffChar);
        if (!flowControl && !(dcb.fNull && byte == '\0'))
            through += byte;
    }
    return through;
}

void ScriptedPort::LineError()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (!dcb.fAbortOnError)
        return;
    m_abortedUntilCleared = true;
    CompleteLocked(kRead, ERROR_OPERATION_ABORTED);
}

BOOL ScriptedPort::GetCommState(DCB* settings)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    *settings = dcb;
    return TRUE;
}

BOOL ScriptedPort::SetCommState(const DCB& settings)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (settings.XonChar == settings.XoffChar || settings.XonLim > queueSize || settings.XoffLim > queueSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    dcb = settings;
    return TRUE;
}

BOOL ScriptedPort::FlushFileBuffers()
{
    if (!flushFails)
        return TRUE;
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

void ScriptedPort::FailPendingRead(DWORD error)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (hangs != kRead)
        CompleteLocked(kRead, error);
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

bool ScriptedPort::ReadPending()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return std::any_of(m_pending.begin(), m_pending.end(), [](const Op& op) { return op.kind == kRead; });
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

std::vector<HANDLE> ScriptedPort::HangingEvents()
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::vector<HANDLE> events;
    for (const Op& op : m_hanging)
        events.push_back(op.event);
    return events;
}

BOOL ScriptedPort::ClearCommError(COMSTAT* status)
{
    ++statusReads;
    if (statusDelayMs)
        Sleep(statusDelayMs);
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (statusFails) {
        SetLastError(ERROR_BAD_COMMAND);
        return FALSE;
    }
    if (statusFailures > 0) {
        --statusFailures;
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    m_abortedUntilCleared = false;
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(m_input.size());
    return TRUE;
}

// A read ends once the bytes it asks for have come: at once when they are
// waiting, as on Windows.
BOOL ScriptedPort::ReadFile(void* buffer, DWORD size, OVERLAPPED* ov)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_abortedUntilCleared) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return FALSE;
    }
    if (hangs != kRead && ReadsFailLocked()) {
        SetLastError(readError);
        return FALSE;
    }
    Pend({kRead, ov, ov->hEvent, static_cast<char*>(buffer), size});
    DeliverLocked();
    return ov->Internal == kPending ? FALSE : TRUE;
}

bool ScriptedPort::ReadsFailLocked() const
{
    return failReadAfter && m_delivered >= failReadAfter;
}

// Ends the pending read when what it asks for has come, or with the error
// of a port that failed.
void ScriptedPort::DeliverLocked()
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [](const Op& op) { return op.kind == kRead; });
    if (it == m_pending.end() || hangs == kRead)
        return;
    if (ReadsFailLocked()) {
        CompleteLocked(kRead, readError);
        return;
    }
    size_t count = std::min<size_t>(it->size, m_input.size());
    const bool atMark = failReadAfter && count > 0 && m_delivered + count >= failReadAfter;
    if (atMark)
        count = failReadAfter - m_delivered;
    if (count < it->size && !atMark && !m_readsReturnAtOnce)
        return;
    const Op op = *it;
    m_pending.erase(it);
    memcpy(op.buffer, m_input.data(), count);
    m_input.erase(0, count);
    m_delivered += count;
    Complete(op, 0, count);
}

// A write goes pending and ends on another thread.
BOOL ScriptedPort::WriteFile(const void* data, DWORD size, OVERLAPPED* ov)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (writesFail) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (writesStall)
        return Pend({kWrite, ov, ov->hEvent, nullptr, size});
    const bool stalls = wireStallsAt && m_sent.size() + size > wireStallsAt;
    const size_t onWire = stalls ? (m_sent.size() < wireStallsAt ? wireStallsAt - m_sent.size() : 0) : size;
    m_sent.append(static_cast<const char*>(data), onWire);
    const BOOL pended = Pend({kWrite, ov, ov->hEvent, nullptr, size});
    if (stalls && stalledWritesEnd) {
        CompleteLocked(kWrite, 0, onWire);
        return FALSE;
    }
    if (hangs != kWrite && !stalls) {
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
    }
    InterlockedDecrement(&port->m_writesInFlight);
    return 0;
}

BOOL ScriptedPort::PurgeComm(DWORD flags)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (flags & PURGE_RXCLEAR)
        m_input.clear();
    if (flags & PURGE_RXABORT)
        AbortLocked(kRead);
    if (flags & PURGE_TXABORT)
        AbortLocked(kWrite);
    return TRUE;
}

BOOL ScriptedPort::SetCommTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_readsReturnAtOnce = timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == 0 &&
                          timeouts.ReadTotalTimeoutConstant == 0;
    return TRUE;
}

BOOL ScriptedPort::CancelIoEx(OVERLAPPED* ov)
{
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [ov](const Op& op) { return op.ov == ov; });
    if (it == m_pending.end()) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    AbortLocked(it->kind);
    return TRUE;
}

// A cancel or a purge: the operation ends aborted, unless its kind hangs.
void ScriptedPort::AbortLocked(OpKind kind)
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [kind](const Op& op) { return op.kind == kind; });
    if (it == m_pending.end())
        return;
    if (kind == hangs) {
        m_hanging.push_back(*it);
        m_pending.erase(it);
        return;
    }
    CompleteLocked(kind, ERROR_OPERATION_ABORTED);
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
            Complete({kNone, ov, ov->hEvent, nullptr, 0}, ERROR_OPERATION_ABORTED, 0);
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

// A write that succeeds took all its bytes, unless told otherwise.
void ScriptedPort::CompleteLocked(OpKind kind, DWORD error, size_t bytes)
{
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [kind](const Op& op) { return op.kind == kind; });
    if (it == m_pending.end())
        return;
    const Op op = *it;
    m_pending.erase(it);
    Complete(op, error, bytes != SIZE_MAX ? bytes : kind == kWrite && !error ? op.size : 0);
}

}  // namespace testenv
