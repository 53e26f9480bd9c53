#include "CSerialCommHelper.h"
#include "Trace.h"

#include <process.h>
#include <algorithm>
#include <cstring>
#include <new>

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

HANDLE OpenPortDefault(const char* devicePath)
{
    return CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
}

std::atomic<CSerialCommHelper::OpenPortFn> g_openPort{OpenPortDefault};
std::atomic<const SerialPortCalls*> g_portCalls{nullptr};

const SerialPortCalls& Port()
{
    const SerialPortCalls* calls = g_portCalls.load();
    return calls ? *calls : SystemSerialPortCalls();
}

const char kDevicePrefix[] = "\\\\.\\";
const char kDevicePathOfCom[] = "\\\\.\\COM";

}  // namespace

// One overlapped operation on the port and all the system may write while it
// runs: the record, its event, the bytes read or written, the event mask. On
// the heap, so that an operation a cancel does not end can be left to the
// system rather than freed under it.
struct CSerialCommHelper::PortOperation {
    OVERLAPPED overlapped{};
    DWORD dwEventMask = 0;
    char* pBytes = nullptr;

    // Null when memory or the event cannot be had.
    static PortOperation* New(DWORD byteCount);
    static void Free(PortOperation*& operation);
};

CSerialCommHelper::PortOperation* CSerialCommHelper::PortOperation::New(DWORD byteCount)
{
    PortOperation* operation = new (std::nothrow) PortOperation;
    if (operation == nullptr)
        return nullptr;
    operation->overlapped.hEvent = NewEvent(true);
    if (byteCount > 0)
        operation->pBytes = new (std::nothrow) char[byteCount]();
    if (operation->overlapped.hEvent == INVALID_HANDLE_VALUE || (byteCount > 0 && operation->pBytes == nullptr))
        Free(operation);
    return operation;
}

void CSerialCommHelper::PortOperation::Free(PortOperation*& operation)
{
    if (operation == nullptr)
        return;
    CloseAndCleanHandle(operation->overlapped.hEvent);
    delete[] operation->pBytes;
    delete operation;
    operation = nullptr;
}

CSerialCommHelper::CSerialCommHelper()
    : m_state(CS_UnInit), m_hPort(INVALID_HANDLE_VALUE), m_hStopEvent(INVALID_HANDLE_VALUE),
      m_hThread(INVALID_HANDLE_VALUE), m_hThreadReady(INVALID_HANDLE_VALUE),
      m_hDataReadEvent(INVALID_HANDLE_VALUE), m_bConnected(false)
{
}

// Closes nothing: the owner calls UnInit first. Records the system still
// holds stay allocated.
CSerialCommHelper::~CSerialCommHelper()
{
    ReapAbandoned();
    m_state = CS_Unknown;
}

std::string CSerialCommHelper::NormalisePortName(const std::string& portName)
{
    if (portName.find(kDevicePathOfCom) != std::string::npos)
        return portName;
    if (portName.compare(0, 3, "COM") == 0)
        return kDevicePrefix + portName;
    return portName;
}

CSerialCommHelper::OpenPortFn CSerialCommHelper::SetOpenPortFn(OpenPortFn fn)
{
    return g_openPort.exchange(fn ? fn : OpenPortDefault);
}

const SerialPortCalls* CSerialCommHelper::SetPortCalls(const SerialPortCalls* calls)
{
    return g_portCalls.exchange(calls);
}

HRESULT CSerialCommHelper::Init(std::string portName, DWORD dwBaudRate, BYTE byParity, BYTE byStopBits,
                                BYTE byByteSize)
{
    const std::string devicePath = NormalisePortName(portName);
    if (FAILED(OpenWithRetries(devicePath)))
        return E_FAIL;
    if (FAILED(ConfigurePort(dwBaudRate, byParity, byStopBits, byByteSize)) || FAILED(StartWorker()))
        return E_FAIL;
    m_bConnected = true;
    Trace("CSerialCommHelper::Init SUCCEEDED");
    m_state = CS_Init;
    return S_OK;
}

// A port another program holds answers ERROR_ACCESS_DENIED; it often frees
// within seconds, so that error alone is retried.
HRESULT CSerialCommHelper::OpenWithRetries(const std::string& devicePath)
{
    for (int retries = 0;; ++retries) {
        // An earlier opening (the owner tries ports in turn) is ended whole,
        // worker and events included, before its handles are replaced.
        ReleaseConnection();
        if (m_hThread != INVALID_HANDLE_VALUE) {
            Trace("CSerialCommHelper::OpenWithRetries : the worker of the earlier connection has not ended");
            return E_FAIL;
        }
        // A driver that would not end an operation gets no second one to keep.
        if (ReapAbandoned() > 0) {
            Trace("CSerialCommHelper::OpenWithRetries : an operation of the earlier connection has not ended");
            return E_FAIL;
        }
        m_hDataReadEvent = NewEvent(false);
        if (m_hDataReadEvent == INVALID_HANDLE_VALUE) {
            Trace("CSerialCommHelper::OpenWithRetries : Failed to create the data event Reason: %lu", GetLastError());
            return E_FAIL;
        }
        m_hPort = g_openPort.load()(devicePath.c_str());
        if (m_hPort != INVALID_HANDLE_VALUE)
            return S_OK;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED) {
            Trace("CSerialCommHelper : Failed to open %s Port Reason: %lu", devicePath.c_str(), error);
            return E_FAIL;
        }
        if (retries == kMaxOpenRetries) {
            Trace("CSerialCommHelper::OpenWithRetries : Failed to open %s Port after %d retries.", devicePath.c_str(), retries);
            return E_FAIL;
        }
        Trace("CSerialCommHelper::OpenWithRetries : Failed to open %s port, retry", devicePath.c_str());
        if (AbortedWithin(kOpenRetryDelayMs)) {
            Trace("CSerialCommHelper::OpenWithRetries : gave up on %s, the owner aborts", devicePath.c_str());
            return E_FAIL;
        }
    }
}

bool CSerialCommHelper::AbortedWithin(DWORD ms) const
{
    if (m_hAbortEvent == nullptr || m_hAbortEvent == INVALID_HANDLE_VALUE) {
        ::Sleep(ms);
        return false;
    }
    return WaitForSingleObject(m_hAbortEvent, ms) != WAIT_TIMEOUT;
}

HRESULT CSerialCommHelper::ConfigurePort(DWORD dwBaudRate, BYTE byParity, BYTE byStopBits, BYTE byByteSize)
{
    if (FAILED(PurgePort()))
        return E_FAIL;
    if (!Port().FlushFileBuffers(m_hPort)) {
        Trace("CSerialCommHelper :  Error in flushing the COM Port buffers");
        return E_FAIL;
    }
    if (!Port().SetCommMask(m_hPort, EV_RXCHAR | EV_TXEMPTY)) {
        Trace("CSerialCommHelper : Failed to Set Comm Mask Reason: %lu", GetLastError());
        return E_FAIL;
    }
    if (FAILED(ApplyLineSettings(dwBaudRate, byParity, byStopBits, byByteSize)))
        return E_FAIL;
    // Reads return at once with whatever is waiting; writes have no port time-out.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!Port().SetCommTimeouts(m_hPort, &timeouts)) {
        Trace("CSerialCommHelper :  Error setting time-outs. %lu", GetLastError());
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CSerialCommHelper::PurgePort()
{
    static const DWORD kPurgeOrder[] = {PURGE_RXCLEAR, PURGE_TXCLEAR, PURGE_RXABORT, PURGE_TXABORT};
    for (DWORD flags : kPurgeOrder) {
        if (!Port().PurgeComm(m_hPort, flags)) {
            Trace("CSerialCommHelper :  Error in purging the COM Port");
            return E_FAIL;
        }
    }
    return S_OK;
}

HRESULT CSerialCommHelper::ApplyLineSettings(DWORD dwBaudRate, BYTE byParity, BYTE byStopBits, BYTE byByteSize)
{
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!Port().GetCommState(m_hPort, &dcb)) {
        Trace("CSerialCommHelper : Failed to Get Comm State Reason: %lu", GetLastError());
        return E_FAIL;
    }
    dcb.BaudRate = dwBaudRate;
    dcb.ByteSize = byByteSize;
    dcb.StopBits = byStopBits == 1 ? ONESTOPBIT : byStopBits == 2 ? TWOSTOPBITS : ONE5STOPBITS;
    dcb.Parity = byParity;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    if (!Port().SetCommState(m_hPort, &dcb)) {
        Trace("CSerialCommHelper : Failed to Set Comm State Reason: %lu", GetLastError());
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CSerialCommHelper::StartWorker()
{
    m_bStopAsked = false;
    m_hStopEvent = NewEvent(false);
    m_hThreadReady = NewEvent(true);
    if (m_hStopEvent != INVALID_HANDLE_VALUE && m_hThreadReady != INVALID_HANDLE_VALUE) {
        const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadFn, this, 0, nullptr);
        if (thread != 0)
            m_hThread = reinterpret_cast<HANDLE>(thread);
    }
    if (m_hThread == INVALID_HANDLE_VALUE) {
        Trace("CSerialCommHelper::Init : Failed to start the worker thread Reason: %lu", GetLastError());
        return E_FAIL;
    }
    // A worker that ends before it runs (no memory for its records) or does
    // not get going in time would leave the port unread.
    HANDLE handles[2] = {m_hThreadReady, m_hThread};
    if (WaitForMultipleObjects(2, handles, FALSE, kWorkerStartWaitMs) != WAIT_OBJECT_0) {
        Trace("CSerialCommHelper::Init : the worker thread did not start");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CSerialCommHelper::Start()
{
    Trace("CSerialCommHelper::Start");
    m_state = CS_Started;
    return S_OK;
}

HRESULT CSerialCommHelper::Stop()
{
    Trace("CSerialCommHelper::Stop");
    m_state = CS_Stopped;
    return S_OK;
}

HRESULT CSerialCommHelper::UnInit()
{
    ReleaseConnection();
    ReapAbandoned();
    Trace("CSerialCommHelper::UnInit SUCCEEDED");
    m_state = CS_UnInit;
    return S_OK;
}

void CSerialCommHelper::ReleaseConnection()
{
    m_bConnected = false;
    if (!EndWorker())
        return;
    CloseAndCleanHandle(m_hStopEvent);
    CloseAndCleanHandle(m_hThread);
    CloseAndCleanHandle(m_hThreadReady);
    CloseAndCleanHandle(m_hDataReadEvent);
    // What this port sent must not be taken for the next port's answer.
    m_rxBuffer.Flush();
    m_bPortFailed = false;
    m_bLinkLost = false;
    if (m_hPort != INVALID_HANDLE_VALUE) {
        Port().PurgeComm(m_hPort, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
        CloseAndCleanHandle(m_hPort);
    }
}

// False when the worker is still inside a call on the port after the bound:
// it then keeps the port and its events, which are released by the next
// Init or UnInit that finds it ended, so that its caller is not held up.
bool CSerialCommHelper::EndWorker()
{
    if (m_hThread == INVALID_HANDLE_VALUE)
        return true;
    m_bStopAsked = true;
    if (m_hStopEvent != INVALID_HANDLE_VALUE)
        SetEvent(m_hStopEvent);
    if (WaitForSingleObject(m_hThread, kWorkerEndWaitMs) == WAIT_OBJECT_0)
        return true;
    Trace("CSerialCommHelper::UnInit -> the worker thread did not end within %lu ms; the port stays open until it does",
          static_cast<unsigned long>(kWorkerEndWaitMs));
    return false;
}

HRESULT CSerialCommHelper::Write(const char* data, DWORD count)
{
    if (!CanProcess()) {
        Trace("CSerialCommHelper::Write -> the port is not started");
        return E_FAIL;
    }
    ReapAbandoned();
    // The bytes go with the record: a write left to the system still reads them.
    PortOperation* write = PortOperation::New(count);
    if (!write) {
        Trace("CSerialCommHelper::Write -> Writing to serial COM port failed.");
        return E_FAIL;
    }
    if (count > 0)
        memcpy(write->pBytes, data, count);
    const HRESULT hr = WriteAndWait(write, count);
    PortOperation::Free(write);
    return hr;
}

HRESULT CSerialCommHelper::WriteAndWait(PortOperation*& write, DWORD count)
{
    OVERLAPPED& overlapped = write->overlapped;
    // The port is closed when a later Init failed after ending the earlier
    // opening, and given up when an operation on it would not end.
    if (m_hPort == INVALID_HANDLE_VALUE || m_bPortFailed ||
        (!Port().WriteFile(m_hPort, write->pBytes, count, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)) {
        Trace("CSerialCommHelper::Write -> Writing to serial COM port failed.");
        if (m_hPort != INVALID_HANDLE_VALUE)
            MarkLinkLost("Write");
        return E_FAIL;
    }
    DWORD written = 0;
    switch (WaitForSingleObject(overlapped.hEvent, kWriteTimeoutMs)) {
    case WAIT_OBJECT_0:
        if (Port().GetOverlappedResult(m_hPort, &overlapped, &written, FALSE))
            return S_OK;
        Trace("CSerialCommHelper::Write -> Writing to serial COM port failed.");
        MarkLinkLost("Write");
        return E_FAIL;
    case WAIT_TIMEOUT:
        Trace("CSerialCommHelper::Write -> Writing to serial COM port timed out.");
        break;
    default:
        Trace("CSerialCommHelper::Write -> Waiting to write to serial COM port failed.");
        break;
    }
    // The write must be over before its record and event go away.
    CancelPending(write);
    return E_FAIL;
}

void CSerialCommHelper::CancelPending(PortOperation*& write)
{
    Port().CancelIoEx(m_hPort, &write->overlapped);
    AwaitCancelled(write, "Write");
}

// A serial driver may take as long as it likes to end a cancelled operation;
// the caller (the braille thread, or the worker) waits a bounded time. An
// operation still running after that keeps its record, which the system may
// yet write: it is left to the system until the operation ends, and the port
// is given up.
bool CSerialCommHelper::AwaitCancelled(PortOperation*& operation, const char* caller)
{
    if (WaitForSingleObject(operation->overlapped.hEvent, kCancelWaitMs) == WAIT_OBJECT_0)
        return true;
    Trace("CSerialCommHelper::%s -> a cancelled operation did not end; its record is left to the system", caller);
    Abandon(operation);
    MarkPortFailed();
    return false;
}

void CSerialCommHelper::Abandon(PortOperation*& operation)
{
    std::lock_guard<std::mutex> lock(m_abandonedLock);
    for (PortOperation*& slot : m_abandoned) {
        if (slot == nullptr) {
            slot = operation;
            operation = nullptr;
            return;
        }
    }
    // Cannot happen while a port with a record left is never reopened; the
    // record is then lost rather than freed under the system.
    Trace("CSerialCommHelper::Abandon -> no room to keep the record");
    operation = nullptr;
}

// Frees the records whose operations the system has ended since; returns how
// many it still holds.
int CSerialCommHelper::ReapAbandoned()
{
    std::lock_guard<std::mutex> lock(m_abandonedLock);
    int outstanding = 0;
    for (PortOperation*& slot : m_abandoned) {
        if (slot == nullptr)
            continue;
        if (WaitForSingleObject(slot->overlapped.hEvent, 0) == WAIT_OBJECT_0) {
            Trace("CSerialCommHelper::ReapAbandoned -> a record left to the system is freed, its operation ended");
            PortOperation::Free(slot);
        } else {
            ++outstanding;
        }
    }
    return outstanding;
}

// An error from the port itself: the owner may take the device for gone.
void CSerialCommHelper::MarkLinkLost(const char* what)
{
    if (!m_bLinkLost.exchange(true))
        Trace("CSerialCommHelper::%s -> the port answers with errors, the link is lost", what);
}

// Writes fail and the worker ends, until the next Init opens a port again.
void CSerialCommHelper::MarkPortFailed()
{
    m_bPortFailed = true;
    if (m_hStopEvent != INVALID_HANDLE_VALUE)
        SetEvent(m_hStopEvent);
}

HRESULT CSerialCommHelper::ReadAvailable(std::string& data)
{
    if (!CanProcess()) {
        Trace("CSerialCommHelper::ReadAvailable -> the port is not started");
        return E_FAIL;
    }
    try {
        m_rxBuffer.Read_Available(data, m_hDataReadEvent);
    } catch (...) {
        Trace("CSerialCommHelper Unhandled exception in ReadAvailable()");
        return E_FAIL;
    }
    return S_OK;
}

unsigned __stdcall CSerialCommHelper::ThreadFn(void* pvParam)
{
    static_cast<CSerialCommHelper*>(pvParam)->WorkerLoop();
    return 0;
}

void CSerialCommHelper::WorkerLoop()
{
    PortOperation* wait = PortOperation::New(0);
    if (wait == nullptr) {
        Trace("CSerialCommHelper::ThreadFn -> no memory for the comm-event wait, ended");
        return;
    }
    Trace("CSerialCommHelper::ThreadFn -> started");
    SetEvent(m_hThreadReady);
    // A port known for empty events is polled from the start.
    int emptyEvents = m_bEmptyCommEvents ? kEmptyEventsBeforePolling : 0;
    bool keepRunning = true;
    while (keepRunning)
        keepRunning = emptyEvents >= kEmptyEventsBeforePolling ? PollPass() : EventPass(wait, emptyEvents);
    PortOperation::Free(wait);
    // Nobody reads the port any more: unless asked to end, the owner must know.
    if (!m_bStopAsked)
        MarkLinkLost("ThreadFn");
    Trace("CSerialCommHelper::ThreadFn -> ended");
}

// One comm-event wait and the drain pass it leads to; false when the
// transport is being stopped or the port failed.
bool CSerialCommHelper::EventPass(PortOperation*& wait, int& emptyEvents)
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
    const bool keepRunning = DrainPass(total);
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
bool CSerialCommHelper::PollPass()
{
    if (WaitForSingleObject(m_hStopEvent, kPollPeriodMs) != WAIT_TIMEOUT)
        return false;
    DWORD total = 0;
    return DrainPass(total);
}

// Every comm event leads here: a character arrived or the output ran empty.
// The port is read without the receive buffer's lock, which the owner's
// read-out also takes: a port slow to answer must not hold the owner up.
// The pass's bytes are then stored in one go, so the owner still receives
// whole passes.
bool CSerialCommHelper::DrainPass(DWORD& total)
{
    PortOperation* read = PortOperation::New(kReadBlockSize);
    std::string pass;
    bool keepRunning = true;
    try {
        keepRunning = DrainPort(read, pass);
    } catch (...) {
        Trace("CSerialCommHelper::DrainPass -> could not store the received bytes");
    }
    PortOperation::Free(read);
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

HANDLE CSerialCommHelper::NewEvent(bool manualReset)
{
    HANDLE event = CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
    return event ? event : INVALID_HANDLE_VALUE;
}

void CSerialCommHelper::CloseAndCleanHandle(HANDLE& handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    if (!CloseHandle(handle))
        Trace("CSerialCommHelper::CloseAndCleanHandle : Failed to close handle %d : Last Error: %lu",
              static_cast<int>(reinterpret_cast<intptr_t>(handle)), GetLastError());
    InvalidateHandle(handle);
}
