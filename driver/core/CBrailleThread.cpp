#include "CBrailleThread.h"
#include "CloseIfSet.h"
#include "PumpingWait.h"
#include "SrwGuard.h"
#include "Trace.h"

#include <process.h>

CBrailleThread::CBrailleThread()
    : m_hEventCommandComplete(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hEventBreakOff(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

CBrailleThread::~CBrailleThread()
{
    CloseIfSet(m_hThread);
    CloseHandle(m_hEventCommandComplete);
    CloseHandle(m_hEventBreakOff);
}

bool CBrailleThread::Begin(Proc proc, void* arg)
{
    SrwGuard guard(m_lock);
    unsigned threadId = 0;
    const uintptr_t thread = _beginthreadex(nullptr, 0, proc, arg, CREATE_SUSPENDED, &threadId);
    if (!thread)
        return false;
    m_hThread = reinterpret_cast<HANDLE>(thread);
    m_dwThreadId = threadId;
    m_bTakesCommands = true;
    SetThreadPriority(m_hThread, THREAD_PRIORITY_ABOVE_NORMAL);
    ResumeThread(m_hThread);
    return true;
}

// The caller holds the call lock, the only one that replaces the handle.
DWORD CBrailleThread::WaitForCompletion(DWORD waitMs) const
{
    if (!m_hThread)
        return WAIT_OBJECT_0 + 1;
    HANDLE handles[2] = {m_hEventCommandComplete, m_hThread};
    return PumpingWait(2, handles, waitMs);
}

// The handle is kept while the thread still runs, so that a later Open
// knows about it and never starts a second one beside it.
bool CBrailleThread::End(DWORD waitMs)
{
    if (!m_hThread)
        return true;
    if (PumpingWait(1, &m_hThread, waitMs) == WAIT_TIMEOUT) {
        Trace("CBrailleDisplayDriver::WaitForBrailleThreadEnd : the braille thread is still running");
        return false;
    }
    SrwGuard guard(m_lock);
    CloseIfSet(m_hThread);
    m_dwThreadId = 0;
    m_bTakesCommands = false;
    return true;
}

bool CBrailleThread::Post(UINT message, WPARAM wParam, LPARAM lParam)
{
    SrwGuard guard(m_lock, SrwGuard::Shared);
    return m_bTakesCommands && PostThreadMessageA(m_dwThreadId, message, wParam, lParam);
}

void CBrailleThread::CancelIo()
{
    SrwGuard guard(m_lock, SrwGuard::Shared);
    if (m_hThread)
        CancelSynchronousIo(m_hThread);
}

bool CBrailleThread::Running() const
{
    SrwGuard guard(m_lock, SrwGuard::Shared);
    return m_hThread != nullptr;
}

void CBrailleThread::StopTakingCommands()
{
    SrwGuard guard(m_lock);
    m_bTakesCommands = false;
}

void CBrailleThread::BreakOff()
{
    {
        SrwGuard guard(m_lock);
        m_bBrokenOffInCall = true;
        ShowBreakOff();
    }
    CancelIo();
}

void CBrailleThread::CallDone(bool sessionGoesOn)
{
    SrwGuard guard(m_lock);
    if (sessionGoesOn)
        m_bBrokenOffInCall = false;
    ShowBreakOff();
}

void CBrailleThread::BreakOffForClose()
{
    {
        SrwGuard guard(m_lock);
        ++m_nClosers;
        ShowBreakOff();
    }
    CancelIo();
}

void CBrailleThread::CloseDone()
{
    SrwGuard guard(m_lock);
    if (m_nClosers > 0)
        --m_nClosers;
    ShowBreakOff();
}

// Under the lock: the event says what the state says.
void CBrailleThread::ShowBreakOff()
{
    if (m_nClosers > 0 || m_bBrokenOffInCall)
        SetEvent(m_hEventBreakOff);
    else
        ResetEvent(m_hEventBreakOff);
}
