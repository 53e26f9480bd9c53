// CSerialCommHelper: the records of overlapped operations, and what becomes
// of one that a cancel does not end.
#include "PortOperation.h"
#include "Trace.h"

#include <new>

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

// The purge ends the write where a driver is slow to honour the cancel; it
// cuts the frame under way, as the time-out may have already.
void CSerialCommHelper::CancelPending(PortOperation*& write)
{
    Port().CancelIoEx(m_hPort, &write->overlapped);
    Port().PurgeComm(m_hPort, PURGE_TXABORT);
    m_bOutputPurged = true;
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
    // Cannot happen while no port is opened with the slots nearly full; the
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
