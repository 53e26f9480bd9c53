// One screen reader's call of Open, Close or Sleep at a time. A call waits
// (a bounded time, serving its thread's messages) for another thread's to
// end. The same thread can only call again from a handler that runs inside
// its own call's wait: such a call is refused, but for Close, which is owed:
// the session ends when the outer call leaves.
#pragma once

#include <windows.h>

#include <atomic>

class CCallLock {
public:
    CCallLock();
    ~CCallLock();
    CCallLock(const CCallLock&) = delete;
    CCallLock& operator=(const CCallLock&) = delete;

    bool Enter(const char* caller, DWORD waitMs);
    // Without waiting: false while a call runs, on this thread or another.
    bool TryEnter();
    void Leave();
    // The calling thread runs a call (any thread may ask).
    bool HeldHere() const { return m_dwOwner == GetCurrentThreadId(); }
    // Only by the thread that holds the lock.
    void OweClose() { m_bCloseOwed = true; }
    bool TakeOwedClose();

private:
    HANDLE m_hEventFree;
    std::atomic<DWORD> m_dwOwner{0};
    bool m_bCloseOwed = false;  // the owner's own
};
