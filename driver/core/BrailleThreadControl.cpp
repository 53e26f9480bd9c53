// The screen reader's side of the braille thread: starting it, posting it
// commands and waiting for those the caller waits for, breaking off what it
// waits for, ending it. Runs on the screen reader's threads.
#include "CBrailleDisplayDriver.h"
#include "BrailleThreadStart.h"
#include "LibraryHold.h"
#include "SrwGuard.h"
#include "Trace.h"

#include <process.h>
#include <cstring>
#include <new>

namespace {

bool DuplicateOwn(HANDLE source, HANDLE& copy)
{
    return DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
}

}  // namespace

bool CBrailleDisplayDriver::BeginBrailleThread()
{
    auto* start = new (std::nothrow) BrailleThreadStart{this, nullptr, nullptr, nullptr};
    if (!start)
        return false;
    const bool copied = DuplicateOwn(m_hEventCommandComplete, start->hDone) &&
                        DuplicateOwn(m_hEventAbort, start->hAbort) &&
                        DuplicateOwn(m_hEventReceiveReset, start->hReceiveReset);
    // The thread holds the library loaded until its last instruction.
    const bool held = copied && LibraryHold::Take();
    unsigned threadId = 0;
    const uintptr_t thread = held ? _beginthreadex(nullptr, 0, BrailleThreadProc, start, 0, &threadId) : 0;
    if (!thread) {
        if (held)
            LibraryHold::Give();
        CloseIfSet(start->hDone);
        CloseIfSet(start->hAbort);
        CloseIfSet(start->hReceiveReset);
        delete start;
        return false;
    }
    {
        SrwGuard guard(m_commandGuard);
        m_hBrailleThread = reinterpret_cast<HANDLE>(thread);
        m_dwBrailleThreadId = threadId;
    }
    SetThreadPriority(m_hBrailleThread, THREAD_PRIORITY_ABOVE_NORMAL);
    return true;
}

// The block is a zero-filled copy one byte longer than the data, so a port
// name arrives terminated; the braille thread frees it.
BOOL CBrailleDisplayDriver::PostThreadCommand(int code, const void* data, int count)
{
    BYTE* block = nullptr;
    if (data && count > 0) {
        block = new (std::nothrow) BYTE[static_cast<size_t>(count) + 1]();
        if (!block)
            return FALSE;
        memcpy(block, data, static_cast<size_t>(count));
    }
    const bool waits = CallerWaitsFor(code);
    if (waits)
        ResetEvent(m_hEventCommandComplete);
    if (!PostToBrailleThread(WM_BT_FIRST + code, reinterpret_cast<WPARAM>(block), static_cast<LPARAM>(count))) {
        // Nobody will signal for a command that was never posted.
        Trace("CBrailleDisplayDriver::PostThreadCommand : posting %d failed", code);
        delete[] block;
        return FALSE;
    }
    if (waits && !WaitForCommandComplete(code == BTINIT ? kOpenSearchMs : MAX_WAIT_TIMEOUT))
        return FALSE;
    return TRUE;
}

// Under the guard, the id is that of the thread whose handle is held: never
// a thread of the host that got the id of one that ended.
bool CBrailleDisplayDriver::PostToBrailleThread(UINT message, WPARAM wParam, LPARAM lParam)
{
    SrwGuard guard(m_commandGuard, SrwGuard::Shared);
    return m_hBrailleThread && PostThreadMessageA(m_dwBrailleThreadId, message, wParam, lParam);
}

// Once a message is sent to this thread, every message of the thread is
// dispatched (the screen reader's own, the hidden window's keys). A quit
// taken off the queue meanwhile is posted again once the wait is over, so
// that the caller's loop still ends. The wait gives up when the braille
// thread has ended and can no longer signal; after breakOffMs the command is
// broken off, and MAX_WAIT_TIMEOUT later the wait gives up. True when the
// command completed.
bool CBrailleDisplayDriver::WaitForCommandComplete(DWORD breakOffMs)
{
    HANDLE handles[2] = {m_hEventCommandComplete, m_hBrailleThread};
    const DWORD count = m_hBrailleThread ? 2 : 1;
    const DWORD start = GetTickCount();
    bool brokeOff = false;
    bool completed = false;
    bool quit = false;
    WPARAM quitCode = 0;
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        if (!brokeOff && waited >= breakOffMs) {
            Trace("CBrailleDisplayDriver::WaitForCommandComplete : no answer within %lu ms, breaking off",
                  static_cast<unsigned long>(breakOffMs));
            BreakOff();
            brokeOff = true;
        }
        const DWORD bound = brokeOff ? breakOffMs + MAX_WAIT_TIMEOUT : breakOffMs;
        if (waited >= bound) {
            Trace("CBrailleDisplayDriver::WaitForCommandComplete : the braille thread did not answer, given up");
            break;
        }
        const DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, bound - waited, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0 + count) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    quit = true;
                    quitCode = msg.wParam;
                    continue;
                }
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            continue;
        }
        if (result == WAIT_TIMEOUT)
            continue;
        completed = result == WAIT_OBJECT_0;
        if (!completed)
            Trace("CBrailleDisplayDriver::WaitForCommandComplete : braille thread gone (%lu)",
                  static_cast<unsigned long>(result));
        break;
    }
    // A break-off that came as the command ended must not stop the next
    // reconnection of the session.
    if (brokeOff && completed && !m_bClosing)
        ResetEvent(m_hEventAbort);
    if (quit)
        PostQuitMessage(static_cast<int>(quitCode));
    return completed;
}

// From any thread; a thread blocked in opening a port is also woken.
void CBrailleDisplayDriver::BreakOff()
{
    SrwGuard guard(m_commandGuard, SrwGuard::Shared);
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);
    if (m_hBrailleThread)
        CancelSynchronousIo(m_hBrailleThread);
}

// The thread disconnects the display and ends; false when it has not ended
// within MAX_WAIT_TIMEOUT.
bool CBrailleDisplayDriver::EndBrailleThread()
{
    if (!m_hBrailleThread)
        return true;
    if (m_hEventCommandComplete)
        PostThreadCommand(BTTERMINATE, nullptr, 0);
    else
        PostToBrailleThread(WM_BT_FIRST + BTTERMINATE, 0, 0);
    return WaitForBrailleThreadEnd();
}

// The handle is kept while the thread still runs, so that a later Open
// knows about it and never starts a second one beside it.
bool CBrailleDisplayDriver::WaitForBrailleThreadEnd(DWORD waitMs)
{
    if (!m_hBrailleThread)
        return true;
    if (WaitForSingleObject(m_hBrailleThread, waitMs) == WAIT_TIMEOUT) {
        Trace("CBrailleDisplayDriver::WaitForBrailleThreadEnd : the braille thread is still running");
        return false;
    }
    SrwGuard guard(m_commandGuard);
    CloseHandle(m_hBrailleThread);
    m_hBrailleThread = nullptr;
    m_dwBrailleThreadId = 0;
    return true;
}

void CBrailleDisplayDriver::Cleanup()
{
    Trace("CBrailleDisplayDriver::Cleanup");
    CloseIfSet(m_hEventCommandComplete);
    {
        SrwGuard guard(m_commandGuard);
        CloseIfSet(m_hEventAbort);
    }
    CloseIfSet(m_hEventReceiveReset);
    if (DestroyHiddenWindow())
        UnregisterWindowClass();
}
