// Serial port transport: opens and configures one COM port, waits on a
// pending read on a worker thread and stores what arrives in the receive
// buffer, writes with a bounded wait.
#pragma once

#include "CSerialBuffer.h"
#include "SerialPortCalls.h"

#include <windows.h>
#include <atomic>
#include <mutex>
#include <string>

enum CommState {
    CS_Unknown = 0,
    CS_UnInit = 1,
    CS_Init = 2,
    CS_Started = 3,
    CS_Stopped = 4,
};

class CSerialCommHelper {
public:
    CSerialCommHelper();
    virtual ~CSerialCommHelper();
    CSerialCommHelper(const CSerialCommHelper&) = delete;
    CSerialCommHelper& operator=(const CSerialCommHelper&) = delete;

    HRESULT Init(std::string portName, DWORD dwBaudRate, BYTE byParity, BYTE byStopBits, BYTE byByteSize);
    HRESULT Start();
    HRESULT Stop();
    HRESULT UnInit();
    HRESULT Write(const char* data, DWORD count);
    HRESULT ReadAvailable(std::string& data);
    // Drops what was written and not yet sent (while started). A frame
    // under way may be cut by it, as by any purge of the output.
    HRESULT PurgeOutput();
    // True once after each purge of the output (PurgeOutput, and Init's).
    bool TakeOutputPurged() { return m_bOutputPurged.exchange(false); }

    bool IsConnected() const { return m_bConnected; }
    // Set (auto-reset) after a read pass stored bytes, so that the owner
    // can wait for received data instead of looking for it on a timer.
    // Valid from Init until the next Init or UnInit; only the thread that
    // calls those may wait on it.
    HANDLE GetDataReadEvent() const { return m_hDataReadEvent; }
    // True once the port answered with an error (a failed write or read, the
    // port's status unreadable), an operation on it would not end, or the
    // worker ended without being asked: the device is most likely gone, or
    // nobody reads it any more. Cleared by Init.
    bool IsLinkLost() const { return m_bLinkLost || m_bPortFailed; }
    // Asks the open port for its status (as the worker does, once more on
    // an error): a handle whose device went answers with an error, the link
    // is then lost. False when lost, or no port is open.
    bool CheckPort();
    // The owner's abort event (manual-reset, or null for none): a busy port
    // is retried only until it is set, so that a close or sleep asked for
    // meanwhile is not held up. The owner keeps it open while it calls Init.
    void SetAbortEvent(HANDLE hAbort) { m_hAbortEvent = hAbort; }

    // The port name as it is handed to CreateFileA.
    static std::string NormalisePortName(const std::string& portName);

    // Seam around the opening of the port, so that tests can play a busy port.
    // The function returns the handle or INVALID_HANDLE_VALUE with the last
    // error set; null restores the real opening. Returns the previous one.
    using OpenPortFn = HANDLE (*)(const char* devicePath);
    static OpenPortFn SetOpenPortFn(OpenPortFn fn);
    // Seam around every other call made on the open port, so that tests can
    // play a serial driver; null restores the system's calls.
    // Returns the previous table (null for the system's).
    static const SerialPortCalls* SetPortCalls(const SerialPortCalls* calls);

    static constexpr int kMaxOpenRetries = 3;
    static constexpr DWORD kOpenRetryDelayMs = 1000;
    static constexpr DWORD kWriteTimeoutMs = 100;
    // How long a cancelled operation is waited for before it is left to the system.
    static constexpr DWORD kCancelWaitMs = 300;
    // The worker's longest step once asked to end is the wait for its
    // cancelled read; well beyond that (a loaded machine may not run it for a
    // while) it is stuck inside a call on the port.
    static constexpr DWORD kWorkerEndWaitMs = kCancelWaitMs + 700;
    static constexpr DWORD kWorkerStartWaitMs = 5000;
    static constexpr DWORD kStatusRetryDelayMs = 10;
    // Records of cancelled operations the system may hold at once: each
    // opening can leave two (a write's and the worker's), and a port is not
    // opened again when that could pass the bound.
    static constexpr int kOperationsPerOpening = 2;
    static constexpr int kMaxHeldRecords = 2 * kOperationsPerOpening;
    // The line's own settings (flow control stays off): the standard
    // characters, and flow limits within the smallest queue of any driver.
    static constexpr char kXon = 0x11;
    static constexpr char kXoff = 0x13;
    static constexpr WORD kFlowLimit = 16;

private:
    static unsigned __stdcall ThreadFn(void* pvParam);
    bool CanProcess() const { return m_state == CS_Started; }
    void SetDataReadEvent() { SetEvent(m_hDataReadEvent); }

    // Init, step by step.
    HRESULT OpenWithRetries(const std::string& devicePath);
    // Waits ms, or less when the abort event is set; true when it was.
    bool AbortedWithin(DWORD ms) const;
    HRESULT ConfigurePort(DWORD dwBaudRate, BYTE byParity, BYTE byStopBits, BYTE byByteSize);
    HRESULT PurgePort();
    HRESULT ApplyLineSettings(DWORD dwBaudRate, BYTE byParity, BYTE byStopBits, BYTE byByteSize);
    static void SetTransparentLine(DCB& dcb);
    HRESULT StartWorker();
    // Ends the worker, closes its events and the port: what UnInit releases.
    // False when the worker did not end: it then keeps them.
    bool ReleaseConnection();
    bool EndWorker();

    // One overlapped operation with what the system writes into while it runs.
    struct PortOperation;

    // The worker thread.
    void WorkerLoop();
    bool ReadPass(PortOperation*& read);
    bool ReadWaiting(PortOperation*& read, std::string& pass);
    bool ReadStatus(COMSTAT& status);
    bool ReadPort(PortOperation*& read, DWORD size, DWORD& got);
    bool ReadOnce(PortOperation*& read, DWORD size, DWORD& got, DWORD& error);
    DWORD StorePass(const std::string& pass);
    static void TraceReadError(DWORD error);
    // The system's text for an error code, without its line end.
    struct ErrorText {
        explicit ErrorText(DWORD error);
        char text[256] = {};
    };

    HRESULT WriteAndWait(PortOperation*& write, DWORD count);
    void CancelPending(PortOperation*& write);
    // False when the cancelled operation was left to the system (operation
    // is then null and the port failed).
    bool AwaitCancelled(PortOperation*& operation, const char* caller);
    void Abandon(PortOperation*& operation);
    int ReapAbandoned();
    void MarkPortFailed();
    void MarkLinkLost(const char* what);

    // The system's calls on an open port, or those a test stood in.
    static const SerialPortCalls& Port();
    static HANDLE NewEvent(bool manualReset);
    static void CloseAndCleanHandle(HANDLE& handle, BOOL(WINAPI* close)(HANDLE) = ::CloseHandle);
    static void InvalidateHandle(HANDLE& handle) { handle = INVALID_HANDLE_VALUE; }

    std::atomic<CommState> m_state;
    HANDLE m_hPort;
    HANDLE m_hStopEvent;
    HANDLE m_hThread;
    HANDLE m_hThreadReady;
    HANDLE m_hDataReadEvent;
    std::atomic<bool> m_bConnected;
    CSerialBuffer m_rxBuffer;
    HANDLE m_hAbortEvent = nullptr;
    // Set when an operation on the port would not end, until the next Init.
    std::atomic<bool> m_bPortFailed{false};
    std::atomic<bool> m_bLinkLost{false};
    // Records of cancelled operations the system had not ended in time, each
    // freed once its operation ends; a new handle may open meanwhile.
    std::mutex m_abandonedLock;
    PortOperation* m_abandoned[kMaxHeldRecords] = {};
    // Set when the owner ends the worker; any other end is a lost link.
    std::atomic<bool> m_bStopAsked{false};
    std::atomic<bool> m_bOutputPurged{false};
};
