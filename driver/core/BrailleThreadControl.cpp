// The screen reader's side of the braille thread: starting it, posting it
// commands and waiting for those the caller waits for, breaking off what it
// waits for, ending it. Runs on the screen reader's threads.
#include "CBrailleDisplayDriver.h"
#include "BrailleThreadStart.h"
#include "LibraryHold.h"
#include "Trace.h"

#include <cstring>
#include <new>

bool CBrailleDisplayDriver::BeginBrailleThread()
{
    auto* start = new (std::nothrow) BrailleThreadStart{this, nullptr, m_breakOff.CopyForThread()};
    if (!start)
        return false;
    const bool copied = start->hAbort && DuplicateHandle(GetCurrentProcess(), m_hEventCommandComplete,
                                                         GetCurrentProcess(), &start->hDone, 0, FALSE,
                                                         DUPLICATE_SAME_ACCESS);
    // The thread holds the library loaded until its last instruction.
    const bool held = copied && LibraryHold::Take();
    if (held && m_brailleThread.Begin(BrailleThreadProc, start))
        return true;
    if (held)
        LibraryHold::Give();
    CloseIfSet(start->hDone);
    CloseIfSet(start->hAbort);
    delete start;
    return false;
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
    if (!m_brailleThread.Post(WM_BT_FIRST + code, reinterpret_cast<WPARAM>(block), static_cast<LPARAM>(count))) {
        // Nobody will signal for a command that was never posted, nor free its copy.
        Trace("CBrailleDisplayDriver::PostThreadCommand : posting %d failed", code);
        delete[] block;
        return FALSE;
    }
    if (waits && !WaitForCommandComplete(code == BTINIT ? kOpenSearchMs : MAX_WAIT_TIMEOUT))
        return FALSE;
    return TRUE;
}

// The wait gives up when the braille thread has ended and can no longer
// signal; after breakOffMs the command is broken off, and MAX_WAIT_TIMEOUT
// later the wait gives up. True when the command completed.
bool CBrailleDisplayDriver::WaitForCommandComplete(DWORD breakOffMs)
{
    DWORD result = m_brailleThread.WaitFor(m_hEventCommandComplete, breakOffMs);
    if (result == WAIT_TIMEOUT) {
        Trace("CBrailleDisplayDriver::WaitForCommandComplete : no answer within %lu ms, breaking off",
              static_cast<unsigned long>(breakOffMs));
        BreakOff();
        result = m_brailleThread.WaitFor(m_hEventCommandComplete, MAX_WAIT_TIMEOUT);
    }
    if (result == WAIT_TIMEOUT)
        Trace("CBrailleDisplayDriver::WaitForCommandComplete : the braille thread did not answer, given up");
    else if (result != WAIT_OBJECT_0)
        Trace("CBrailleDisplayDriver::WaitForCommandComplete : braille thread gone (%lu)",
              static_cast<unsigned long>(result));
    return result == WAIT_OBJECT_0;
}

// A thread blocked in opening a port is also woken.
void CBrailleDisplayDriver::BreakOff()
{
    m_breakOff.Raise();
    m_brailleThread.CancelIo();
}

// The thread disconnects the display and ends; false when it has not ended
// within MAX_WAIT_TIMEOUT.
bool CBrailleDisplayDriver::EndBrailleThread()
{
    if (!m_brailleThread.Running())
        return true;
    if (m_hEventCommandComplete)
        PostThreadCommand(BTTERMINATE, nullptr, 0);
    else
        m_brailleThread.Post(WM_BT_FIRST + BTTERMINATE, 0, 0);
    return m_brailleThread.End(MAX_WAIT_TIMEOUT);
}

void CBrailleDisplayDriver::Cleanup()
{
    Trace("CBrailleDisplayDriver::Cleanup");
    CloseIfSet(m_hEventCommandComplete);
    if (DestroyHiddenWindow())
        UnregisterWindowClass();
}
