#include "CSerialCommHelper.h"
#include "Trace.h"

#include <process.h>
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

CSerialCommHelper::CSerialCommHelper()
    : m_state(CS_UnInit), m_hPort(INVALID_HANDLE_VALUE), m_hStopEvent(INVALID_HANDLE_VALUE),
      m_hThread(INVALID_HANDLE_VALUE), m_hThreadReady(INVALID_HANDLE_VALUE),
      m_hDataReadEvent(INVALID_HANDLE_VALUE), m_bConnected(false)
{
}

// Closes nothing: the owner calls UnInit first.
CSerialCommHelper::~CSerialCommHelper()
{
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
        ::Sleep(kOpenRetryDelayMs);
    }
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
    m_hStopEvent = NewEvent(false);
    m_hThreadReady = NewEvent(false);
    if (m_hStopEvent != INVALID_HANDLE_VALUE && m_hThreadReady != INVALID_HANDLE_VALUE) {
        const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadFn, this, 0, nullptr);
        if (thread != 0) {
            m_hThread = reinterpret_cast<HANDLE>(thread);
            WaitForSingleObject(m_hThreadReady, INFINITE);
        }
    }
    CloseAndCleanHandle(m_hThreadReady);
    if (m_hThread == INVALID_HANDLE_VALUE) {
        Trace("CSerialCommHelper::Init : Failed to start the worker thread Reason: %lu", GetLastError());
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
    Trace("CSerialCommHelper::UnInit SUCCEEDED");
    m_state = CS_UnInit;
    return S_OK;
}

void CSerialCommHelper::ReleaseConnection()
{
    m_bConnected = false;
    if (m_hThread != INVALID_HANDLE_VALUE && m_hStopEvent != INVALID_HANDLE_VALUE)
        SignalObjectAndWait(m_hStopEvent, m_hThread, INFINITE, FALSE);
    CloseAndCleanHandle(m_hStopEvent);
    CloseAndCleanHandle(m_hThread);
    CloseAndCleanHandle(m_hDataReadEvent);
    // What this port sent must not be taken for the next port's answer.
    m_rxBuffer.Flush();
    if (m_hPort != INVALID_HANDLE_VALUE) {
        Port().PurgeComm(m_hPort, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
        CloseAndCleanHandle(m_hPort);
    }
}

HRESULT CSerialCommHelper::Write(const char* data, DWORD count)
{
    if (!CanProcess()) {
        Trace("CSerialCommHelper::Write -> the port is not started");
        return E_FAIL;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = NewEvent(true);
    if (overlapped.hEvent == INVALID_HANDLE_VALUE) {
        Trace("CSerialCommHelper::Write -> Writing to serial COM port failed.");
        return E_FAIL;
    }
    const HRESULT hr = WriteAndWait(overlapped, data, count);
    CloseAndCleanHandle(overlapped.hEvent);
    return hr;
}

HRESULT CSerialCommHelper::WriteAndWait(OVERLAPPED& overlapped, const char* data, DWORD count)
{
    // The port is closed when a later Init failed after ending the earlier opening.
    if (m_hPort == INVALID_HANDLE_VALUE ||
        (!Port().WriteFile(m_hPort, data, count, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING)) {
        Trace("CSerialCommHelper::Write -> Writing to serial COM port failed.");
        return E_FAIL;
    }
    DWORD written = 0;
    switch (WaitForSingleObject(overlapped.hEvent, kWriteTimeoutMs)) {
    case WAIT_OBJECT_0:
        if (Port().GetOverlappedResult(m_hPort, &overlapped, &written, FALSE))
            return S_OK;
        Trace("CSerialCommHelper::Write -> Writing to serial COM port failed.");
        return E_FAIL;
    case WAIT_TIMEOUT:
        Trace("CSerialCommHelper::Write -> Writing to serial COM port timed out.");
        break;
    default:
        Trace("CSerialCommHelper::Write -> Waiting to write to serial COM port failed.");
        break;
    }
    // The write must be over before its record and event go away.
    CancelPending(overlapped);
    return E_FAIL;
}

void CSerialCommHelper::CancelPending(OVERLAPPED& overlapped)
{
    DWORD transferred = 0;
    Port().CancelIoEx(m_hPort, &overlapped);
    Port().GetOverlappedResult(m_hPort, &overlapped, &transferred, TRUE);
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
    OVERLAPPED overlapped{};
    overlapped.hEvent = NewEvent(true);
    DWORD eventMask = 0;  // written when the wait completes, so it outlives every wait
    Trace("CSerialCommHelper::ThreadFn -> started");
    SetEvent(m_hThreadReady);
    bool keepRunning = overlapped.hEvent != INVALID_HANDLE_VALUE;
    // A port known for empty events is polled from the start.
    int emptyEvents = m_bEmptyCommEvents ? kEmptyEventsBeforePolling : 0;
    while (keepRunning) {
        if (emptyEvents >= kEmptyEventsBeforePolling) {
            keepRunning = PollPass();
            continue;
        }
        eventMask = 0;
        const bool outstanding = StartCommWait(overlapped, eventMask);
        HANDLE handles[2] = {m_hStopEvent, overlapped.hEvent};
        // The stop event comes first, so it wins when both are set.
        if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
            if (outstanding)
                EndCommWait(overlapped);
            break;
        }
        DWORD total = 0;
        keepRunning = DrainPass(total);
        ResetEvent(overlapped.hEvent);
        emptyEvents = (eventMask == 0 && total == 0) ? emptyEvents + 1 : 0;
        if (emptyEvents == kEmptyEventsBeforePolling) {
            Trace("CSerialCommHelper::ThreadFn -> empty comm events, polling the port instead");
            m_bEmptyCommEvents = true;
        }
    }
    CloseAndCleanHandle(overlapped.hEvent);
    Trace("CSerialCommHelper::ThreadFn -> ended");
}

// True while the wait is outstanding and must be ended before its record goes.
bool CSerialCommHelper::StartCommWait(OVERLAPPED& overlapped, DWORD& eventMask)
{
    if (Port().WaitCommEvent(m_hPort, &eventMask, &overlapped)) {
        SetEvent(overlapped.hEvent);
        return false;
    }
    return GetLastError() == ERROR_IO_PENDING;
}

// The wait's record lives on the worker's stack: it must be over first.
void CSerialCommHelper::EndCommWait(OVERLAPPED& overlapped)
{
    DWORD transferred = 0;
    if (!Port().CancelIoEx(m_hPort, &overlapped) && WaitForSingleObject(overlapped.hEvent, 0) != WAIT_OBJECT_0)
        Port().SetCommMask(m_hPort, 0);  // also ends a pending wait
    Port().GetOverlappedResult(m_hPort, &overlapped, &transferred, TRUE);
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
bool CSerialCommHelper::DrainPass(DWORD& total)
{
    m_rxBuffer.Lock();
    OVERLAPPED overlapped{};
    overlapped.hEvent = NewEvent(true);
    total = 0;
    bool keepRunning = true;
    try {
        keepRunning = DrainPort(overlapped, total);
    } catch (...) {
        Trace("CSerialCommHelper::DrainPass -> could not store the received bytes");
    }
    CloseAndCleanHandle(overlapped.hEvent);
    // Bytes that arrive while the transport is not started are dropped.
    if (m_state != CS_Started) {
        m_rxBuffer.Flush();
        total = 0;
    }
    m_rxBuffer.Unlock();
    if (total > 0)
        SetDataReadEvent();
    return keepRunning;
}

// Reads in small blocks what the port reports waiting, until nothing is left.
// Never asks for more than is waiting: an overlapped read of an empty port may
// go pending on some platforms even with "return at once" time-outs.
bool CSerialCommHelper::DrainPort(OVERLAPPED& overlapped, DWORD& total)
{
    if (overlapped.hEvent == INVALID_HANDLE_VALUE) {
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
        char block[kReadBlockSize] = {};
        DWORD got = 0;
        if (!ReadBlock(overlapped, block, std::min(waiting, kReadBlockSize), got)) {
            TraceReadError(GetLastError());
            return false;
        }
        if (got == 0)
            return true;
        m_rxBuffer.AddData(block, got);
        total += got;
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

bool CSerialCommHelper::ReadBlock(OVERLAPPED& overlapped, char* block, DWORD size, DWORD& got)
{
    got = 0;
    ResetEvent(overlapped.hEvent);
    if (!Port().ReadFile(m_hPort, block, size, nullptr, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        if (WaitForSingleObject(overlapped.hEvent, kReadWaitMs) != WAIT_OBJECT_0)
            Port().CancelIoEx(m_hPort, &overlapped);
    }
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
