// CSerialCommHelper: the worker thread, which keeps a read of one byte
// pending on the port and, when it completes, takes in everything else the
// port holds. The pending read is the wait: a comm-event wait would serve
// on Windows, but Wine completes it empty on pseudo-terminals and starts a
// helper thread for each that breaks later library loads in the process.
#include "LibraryHold.h"
#include "PortOperation.h"
#include "Trace.h"

#include <algorithm>

namespace {

// The most one read takes in; anything beyond is read by the next pass,
// whose first read then completes at once.
const DWORD kReadBlockSize = 4096;

}  // namespace

// The worker holds the library loaded (StartWorker took the hold for it).
unsigned __stdcall CSerialCommHelper::ThreadFn(void* pvParam)
{
    static_cast<CSerialCommHelper*>(pvParam)->WorkerLoop();
    LibraryHold::EndThread(0);
}

void CSerialCommHelper::WorkerLoop()
{
    // The record lives as long as the worker: a pass allocates nothing of it.
    PortOperation* read = PortOperation::New(kReadBlockSize);
    if (read == nullptr) {
        Trace("CSerialCommHelper::ThreadFn -> no memory for the worker's record, ended");
        return;
    }
    Trace("CSerialCommHelper::ThreadFn -> started");
    SetEvent(m_hThreadReady);
    while (ReadPass(read)) {
    }
    PortOperation::Free(read);
    // Nobody reads the port any more: unless asked to end, the owner must know.
    if (!m_bStopAsked)
        MarkLinkLost("ThreadFn");
    Trace("CSerialCommHelper::ThreadFn -> ended");
}

// Waits for the next byte, reads what came with it and stores the lot in
// one go, so that the owner receives whole passes. The port is read without
// the receive buffer's lock, which the owner's read-out also takes: a port
// slow to answer must not hold the owner up. False when the transport is
// being stopped or a read failed.
bool CSerialCommHelper::ReadPass(PortOperation*& read)
{
    DWORD got = 0;
    if (!ReadPort(read, 1, got))
        return false;
    std::string pass;
    bool keepRunning = true;
    try {
        pass.assign(read->pBytes, got);
        keepRunning = ReadWaiting(read, pass);
    } catch (...) {
        Trace("CSerialCommHelper::ThreadFn -> could not store the received bytes");
    }
    if (StorePass(pass) > 0)
        SetDataReadEvent();
    return keepRunning;
}

// What the port reports waiting: a read of no more than that completes at once.
bool CSerialCommHelper::ReadWaiting(PortOperation*& read, std::string& pass)
{
    COMSTAT status{};
    if (!ReadStatus(status))
        return false;
    if (status.cbInQue == 0)
        return true;
    DWORD got = 0;
    if (!ReadPort(read, std::min<DWORD>(status.cbInQue, kReadBlockSize), got))
        return false;
    pass.append(read->pBytes, got);
    return true;
}

bool CSerialCommHelper::CheckPort()
{
    if (m_hPort == INVALID_HANDLE_VALUE)
        return false;
    COMSTAT status{};
    if (!ReadStatus(status))
        MarkLinkLost("CheckPort");
    return !IsLinkLost();
}

// Some ports answer ERROR_NOT_READY now and then: one more try before the
// port counts as failed.
bool CSerialCommHelper::ReadStatus(COMSTAT& status)
{
    DWORD errors = 0;
    if (Port().ClearCommError(m_hPort, &errors, &status))
        return true;
    Trace("CSerialCommHelper::ThreadFn -> the port's status could not be read (%lu), trying again", GetLastError());
    ::Sleep(kStatusRetryDelayMs);
    if (Port().ClearCommError(m_hPort, &errors, &status))
        return true;
    TraceReadError(GetLastError());
    return false;
}

// One read, waited for together with the stop event. A read that fails, for
// whatever reason, means the port is gone: only the stop request cancels it.
// One exception: a read aborted without a stop asked for (a line error on a
// port set to abort on errors, a purge by someone else) is made again once,
// after the port's error was cleared. False when stopped or failed (read is
// null when its record was left to the system).
bool CSerialCommHelper::ReadPort(PortOperation*& read, DWORD size, DWORD& got)
{
    DWORD error = ERROR_SUCCESS;
    if (ReadOnce(read, size, got, error))
        return true;
    if (error == ERROR_OPERATION_ABORTED && !m_bStopAsked) {
        Trace("CSerialCommHelper::ThreadFn -> a read was aborted unasked; the port's error is cleared and the read made "
              "again");
        COMSTAT status{};
        DWORD errors = 0;
        Port().ClearCommError(m_hPort, &errors, &status);
        if (ReadOnce(read, size, got, error))
            return true;
    }
    if (error != ERROR_SUCCESS)
        TraceReadError(error);
    return false;
}

// False when stopped (error is then ERROR_SUCCESS) or failed (error says why).
bool CSerialCommHelper::ReadOnce(PortOperation*& read, DWORD size, DWORD& got, DWORD& error)
{
    got = 0;
    error = ERROR_SUCCESS;
    OVERLAPPED& overlapped = read->overlapped;
    ResetEvent(overlapped.hEvent);
    if (!Port().ReadFile(m_hPort, read->pBytes, size, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        error = GetLastError();
        return false;
    }
    // The stop event comes first, so it wins when both are set.
    HANDLE handles[2] = {m_hStopEvent, overlapped.hEvent};
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        // The purge ends the read where a driver is slow to honour the cancel.
        Port().CancelIoEx(m_hPort, &overlapped);
        Port().PurgeComm(m_hPort, PURGE_RXABORT);
        AwaitCancelled(read, "ThreadFn");
        return false;
    }
    if (Port().GetOverlappedResult(m_hPort, &overlapped, &got, FALSE))
        return true;
    error = GetLastError();
    return false;
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
        Trace("CSerialCommHelper::ThreadFn -> could not store the received bytes");
    }
    m_rxBuffer.Unlock();
    return stored;
}

void CSerialCommHelper::TraceReadError(DWORD error)
{
    Trace("CSerialCommHelper::ThreadFn -> ERROR reading data on port (%lx)", error);
    Trace("CSerialCommHelper::ThreadFn -> ERROR = %s", ErrorText(error).text);
}
