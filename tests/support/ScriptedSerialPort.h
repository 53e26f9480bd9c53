// A serial port and its driver, scripted, behind the transport's seams: a
// read follows the port's read time-outs as Windows does (with none, it
// waits until the bytes it asks for have come), so tests and benchmarks
// drive the transport's own path without a port pair, and play what a pair
// cannot (a driver slow to cancel, each error a read can end with).
#pragma once

#include "link/CSerialCommHelper.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace testenv {

// What the scripted port does with an overlapped record: as the system
// does, it fills Internal and InternalHigh and then sets the record's event.
// Internal holds STATUS_PENDING while the operation runs, then the Win32
// result (0 for success).
inline constexpr ULONG_PTR kPending = 0x103;  // STATUS_PENDING
// How long a serial driver that will not end a cancelled operation keeps
// GetOverlappedResult(..., TRUE) waiting before it lets go after all.
inline constexpr DWORD kLateDriverMs = 5000;

enum OpKind { kNone, kRead, kWrite };

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
    // Once this many bytes were read, reads fail with readError (0: none
    // fails); a read that would cross the mark gets the bytes up to it.
    size_t failReadAfter = 0;
    DWORD readError = ERROR_GEN_FAILURE;
    bool writesFail = false;
    // Writes go pending and end only when cancelled, taking nothing: a
    // display that stopped reading.
    bool writesStall = false;
    // The port's status cannot be read; or only the next statusFailures
    // reads of it fail (ERROR_NOT_READY); or reading it takes this long (a
    // stalling hub).
    bool statusFails = false;
    std::atomic<int> statusFailures{0};
    DWORD statusDelayMs = 0;
    std::atomic<int> statusReads{0};  // calls begun
    // Once this many bytes were sent in all, a write puts no more on the
    // wire and stays pending until it is cancelled (0: never); or, with
    // stalledWritesEnd, completes at once with the bytes it put on the wire.
    size_t wireStallsAt = 0;
    bool stalledWritesEnd = false;
    // As Windows' serial driver: a new handle is refused (ERROR_ACCESS_DENIED)
    // while one is open or any operation of a closed one still runs.
    bool exclusive = true;
    // SetCommState refuses flow limits beyond the driver's queue, and equal
    // XON and XOFF characters (ERROR_INVALID_PARAMETER), as Windows does.
    WORD queueSize = 4096;
    // The flush is not supported (ERROR_INVALID_FUNCTION).
    bool flushFails = false;
    // The settings GetCommState reports, as the port's last user left them
    // (Windows keeps them; the default is what Wine always reports), and
    // what they do to arriving bytes: XON/XOFF takes 0x11 and 0x13, fNull
    // drops zeros, DSR sensitivity drops everything (DSR is low here), and
    // with abort on error a line error fails every read until the error is
    // cleared.
    DCB dcb{};
    void LineError();

    // The line: bytes that arrive and what was written to it.
    void Receive(const std::string& bytes);
    std::string Sent();
    bool InputEmpty();
    // The pending read ends with this error (later reads go as usual).
    void FailPendingRead(DWORD error);
    bool ReadPending();
    // Ends the operations left hanging, writing into their records as a
    // driver finally would; returns how many of them still had their event.
    int FinishHanging();
    // The events of the operations left hanging.
    std::vector<HANDLE> HangingEvents();

    // The seams.
    HANDLE Open();
    BOOL Close(HANDLE handle);
    BOOL ClearCommError(COMSTAT* status);
    BOOL GetCommState(DCB* settings);
    BOOL SetCommState(const DCB& settings);
    BOOL FlushFileBuffers();
    BOOL ReadFile(void* buffer, DWORD size, OVERLAPPED* ov);
    BOOL WriteFile(const void* data, DWORD size, OVERLAPPED* ov);
    BOOL PurgeComm(DWORD flags);
    BOOL SetCommTimeouts(const COMMTIMEOUTS& timeouts);
    BOOL CancelIoEx(OVERLAPPED* ov);
    BOOL GetOverlappedResult(OVERLAPPED* ov, DWORD* transferred, BOOL wait);

private:
    struct Op {
        OpKind kind;
        OVERLAPPED* ov;
        HANDLE event;  // as it was when the operation began
        char* buffer;
        DWORD size;
    };
    BOOL Pend(const Op& op);
    void Complete(const Op& op, DWORD error, ULONG_PTR bytes);
    void CompleteLocked(OpKind kind, DWORD error, size_t bytes = SIZE_MAX);
    void AbortLocked(OpKind kind);
    bool ReadsFailLocked() const;
    std::string AsTheLineLetsThrough(const std::string& bytes) const;
    void DeliverLocked();
    static DWORD CALLBACK FinishWrite(void* op);

    std::recursive_mutex m_lock;
    std::string m_input, m_sent;
    size_t m_delivered = 0;
    bool m_readsReturnAtOnce = false;  // with whatever is waiting, maybe nothing
    bool m_abortedUntilCleared = false;
    std::vector<Op> m_pending;  // at most one of each kind
    std::vector<Op> m_hanging;  // cancelled, never to end by themselves
    LONG m_writesInFlight = 0;
    int m_openHandles = 0;
    const SerialPortCalls* m_previousCalls;
    CSerialCommHelper::OpenPortFn m_previousOpen;
};

}  // namespace testenv
