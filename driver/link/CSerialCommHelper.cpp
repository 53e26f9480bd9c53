#include "CSerialCommHelper.h"
#include "LibraryHold.h"
#include "PortOperation.h"
#include "Trace.h"

#include <process.h>
#include <cstring>

namespace {

HANDLE OpenPortDefault(const char* devicePath)
{
    return CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
}

std::atomic<CSerialCommHelper::OpenPortFn> g_openPort{OpenPortDefault};
std::atomic<const SerialPortCalls*> g_portCalls{nullptr};

const char kDevicePrefix[] = "\\\\.\\";
const char kDevicePathOfCom[] = "\\\\.\\COM";

}  // namespace

const SerialPortCalls& CSerialCommHelper::Port()
{
    const SerialPortCalls* calls = g_portCalls.load();
    return calls ? *calls : SystemSerialPortCalls();
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
        if (!ReleaseConnection()) {
            Trace("CSerialCommHelper::OpenWithRetries : the worker of the earlier connection has not ended");
            return E_FAIL;
        }
        // A record the system still holds is memory of its own, freed when its
        // operation ends: it keeps no new handle from opening, unless a driver
        // that keeps them could be left more than the bound.
        if (ReapAbandoned() > kMaxHeldRecords - kOperationsPerOpening) {
            Trace("CSerialCommHelper::OpenWithRetries : operations of earlier connections have not ended");
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
    // The purge has just dropped the same bytes; a port whose driver does not
    // support the flush (some USB serial drivers) is still usable.
    if (!Port().FlushFileBuffers(m_hPort))
        Trace("CSerialCommHelper :  Error in flushing the COM Port buffers (%lu), going on", GetLastError());
    if (FAILED(ApplyLineSettings(dwBaudRate, byParity, byStopBits, byByteSize)))
        return E_FAIL;
    // A read waits for as many bytes as it asks for, with no time-out: the
    // worker's pending read of one byte is its wait for the port. Writes
    // have no port time-out.
    COMMTIMEOUTS timeouts{0, 0, 0, 0, 0};
    if (!Port().SetCommTimeouts(m_hPort, &timeouts)) {
        Trace("CSerialCommHelper :  Error setting time-outs. %lu", GetLastError());
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CSerialCommHelper::PurgePort()
{
    static const DWORD kPurgeOrder[] = {PURGE_RXCLEAR, PURGE_TXCLEAR, PURGE_RXABORT, PURGE_TXABORT};
    m_bOutputPurged = true;
    for (DWORD flags : kPurgeOrder) {
        if (!Port().PurgeComm(m_hPort, flags)) {
            Trace("CSerialCommHelper :  Error in purging the COM Port");
            return E_FAIL;
        }
    }
    return S_OK;
}

HRESULT CSerialCommHelper::PurgeOutput()
{
    if (m_hPort == INVALID_HANDLE_VALUE || !CanProcess())
        return E_FAIL;
    m_bOutputPurged = true;
    if (Port().PurgeComm(m_hPort, PURGE_TXABORT | PURGE_TXCLEAR))
        return S_OK;
    Trace("CSerialCommHelper::PurgeOutput -> the output could not be purged (%lu)", GetLastError());
    return E_FAIL;
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
    SetTransparentLine(dcb);
    if (!Port().SetCommState(m_hPort, &dcb)) {
        const DWORD error = GetLastError();
        Trace("CSerialCommHelper : Failed to Set Comm State Reason: %lu (%s)", error, ErrorText(error).text);
        return E_FAIL;
    }
    return S_OK;
}

// A port keeps its settings from one program to the next, so none that
// changes the bytes may be left as the last user set it: XON/XOFF would
// swallow the keys 0x11 and 0x13 and stop output after a 0x13, fNull would
// drop the zeros of blank cells and of the init answer, DSR sensitivity would
// ignore every key while DSR is low, and abort on error would fail all I/O
// after one line error. Nor may a field the port's driver checks: Windows
// refuses equal XON and XOFF characters even with XON/XOFF off, and a driver
// refuses flow limits beyond its queue, which an earlier program may have
// left for a larger one; the special characters would replace or mark bytes.
void CSerialCommHelper::SetTransparentLine(DCB& dcb)
{
    dcb.XonChar = kXon;
    dcb.XoffChar = kXoff;
    dcb.XonLim = kFlowLimit;
    dcb.XoffLim = kFlowLimit;
    dcb.EofChar = 0;
    dcb.ErrorChar = 0;
    dcb.EvtChar = 0;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fNull = 0;
    dcb.fErrorChar = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fAbortOnError = 0;
    dcb.fTXContinueOnXoff = 1;
}

HRESULT CSerialCommHelper::StartWorker()
{
    m_bStopAsked = false;
    m_hStopEvent = NewEvent(false);
    m_hThreadReady = NewEvent(true);
    if (m_hStopEvent != INVALID_HANDLE_VALUE && m_hThreadReady != INVALID_HANDLE_VALUE && LibraryHold::Take()) {
        const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadFn, this, 0, nullptr);
        if (thread != 0)
            m_hThread = reinterpret_cast<HANDLE>(thread);
        else
            LibraryHold::Give();
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

// Fails when the worker has not ended: the port is then not free yet. An
// operation left to the system keeps only its own record.
HRESULT CSerialCommHelper::UnInit()
{
    const bool released = ReleaseConnection();
    m_state = CS_UnInit;
    if (ReapAbandoned() > 0)
        Trace("CSerialCommHelper::UnInit -> an operation on the port has not ended; its record stays with the system");
    if (!released) {
        Trace("CSerialCommHelper::UnInit FAILED");
        return E_FAIL;
    }
    Trace("CSerialCommHelper::UnInit SUCCEEDED");
    return S_OK;
}

bool CSerialCommHelper::ReleaseConnection()
{
    m_bConnected = false;
    if (!EndWorker())
        return false;
    CloseAndCleanHandle(m_hStopEvent);
    CloseAndCleanHandle(m_hThread);
    CloseAndCleanHandle(m_hThreadReady);
    CloseAndCleanHandle(m_hDataReadEvent);
    // What this port sent must not be taken for the next port's answer.
    m_rxBuffer.Flush();
    m_bPortFailed = false;
    m_bLinkLost = false;
    // What was written last (the blank frame of a sleep) is not thrown away:
    // it still reaches the display once the display reads again.
    if (m_hPort != INVALID_HANDLE_VALUE) {
        Port().PurgeComm(m_hPort, PURGE_RXCLEAR | PURGE_RXABORT);
        CloseAndCleanHandle(m_hPort, Port().CloseHandle);
    }
    return true;
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
        if (!Port().GetOverlappedResult(m_hPort, &overlapped, &written, FALSE)) {
            Trace("CSerialCommHelper::Write -> Writing to serial COM port failed.");
            MarkLinkLost("Write");
            return E_FAIL;
        }
        if (written == count)
            return S_OK;
        // The rest of the frame never comes: the display waits for it.
        Trace("CSerialCommHelper::Write -> only %lu of %lu bytes were written.", written, count);
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

HANDLE CSerialCommHelper::NewEvent(bool manualReset)
{
    HANDLE event = CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
    return event ? event : INVALID_HANDLE_VALUE;
}

CSerialCommHelper::ErrorText::ErrorText(DWORD error)
{
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    DWORD end = length < sizeof text ? length : 0;
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        --end;
    text[end] = '\0';
}

void CSerialCommHelper::CloseAndCleanHandle(HANDLE& handle, BOOL(WINAPI* close)(HANDLE))
{
    if (handle == INVALID_HANDLE_VALUE)
        return;
    if (!close(handle))
        Trace("CSerialCommHelper::CloseAndCleanHandle : Failed to close handle %d : Last Error: %lu",
              static_cast<int>(reinterpret_cast<intptr_t>(handle)), GetLastError());
    InvalidateHandle(handle);
}
