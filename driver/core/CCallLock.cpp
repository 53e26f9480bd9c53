#include "CCallLock.h"
#include "CloseIfSet.h"
#include "PumpingWait.h"
#include "Trace.h"

CCallLock::CCallLock() : m_hEventFree(CreateEventA(nullptr, FALSE, TRUE, nullptr)) {}

CCallLock::~CCallLock()
{
    CloseIfSet(m_hEventFree);
}

// A call from this thread itself would replace what the outer call waits on.
bool CCallLock::Enter(const char* caller, DWORD waitMs)
{
    if (HeldHere()) {
        Trace("CBrailleDisplayDriver::%s : called from inside another call of this thread, refused", caller);
        return false;
    }
    if (PumpingWait(1, &m_hEventFree, waitMs) != WAIT_OBJECT_0) {
        Trace("CBrailleDisplayDriver::%s : another thread's call did not end, refused", caller);
        return false;
    }
    m_dwOwner = GetCurrentThreadId();
    return true;
}

bool CCallLock::TryEnter()
{
    if (HeldHere() || WaitForSingleObject(m_hEventFree, 0) != WAIT_OBJECT_0)
        return false;
    m_dwOwner = GetCurrentThreadId();
    return true;
}

void CCallLock::Leave()
{
    m_bCloseOwed = false;
    m_dwOwner = 0;
    SetEvent(m_hEventFree);
}

bool CCallLock::TakeOwedClose()
{
    const bool owed = m_bCloseOwed;
    m_bCloseOwed = false;
    return owed;
}
