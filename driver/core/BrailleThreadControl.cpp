// The screen reader's side of the braille thread: starting it, posting it
// commands and waiting for those the caller waits for. Runs on the screen reader's threads.
#include "CBrailleDisplayDriver.h"
#include "LibraryHold.h"
#include "Trace.h"

#include <cstring>
#include <new>

// The thread holds the library loaded until its last instruction; true
// once it said it takes commands. A thread that starts after this gave up
// finds the break-off set and ends.
bool CBrailleDisplayDriver::BeginBrailleThread()
{
    m_brailleThread.ExpectCompletion();
    if (!LibraryHold::Take())
        return false;
    if (!m_brailleThread.Begin(BrailleThreadProc, this)) {
        LibraryHold::Give();
        Trace("!BeginBrailleThread");
        return false;
    }
    if (m_brailleThread.WaitForCompletion(MAX_WAIT_TIMEOUT) != WAIT_OBJECT_0) {
        Trace("WaitForSingleObject(m_hEventCommandComplete,MAX_WAIT_TIMEOUT ) != WAIT_OBJECT_0");
        return false;
    }
    return true;
}

// Only these signal the completion: a line queued before a Sleep must not
// end Sleep's wait.
bool CBrailleDisplayDriver::CallerWaitsFor(int code)
{
    return code == BTINIT || code == BTTERMINATE || code == BTSLEEP;
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
        m_brailleThread.ExpectCompletion();
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
    DWORD result = m_brailleThread.WaitForCompletion(breakOffMs);
    if (result == WAIT_TIMEOUT) {
        Trace("CBrailleDisplayDriver::WaitForCommandComplete : no answer within %lu ms, breaking off",
              static_cast<unsigned long>(breakOffMs));
        m_brailleThread.BreakOff();
        result = m_brailleThread.WaitForCompletion(MAX_WAIT_TIMEOUT);
    }
    if (result == WAIT_TIMEOUT)
        Trace("CBrailleDisplayDriver::WaitForCommandComplete : the braille thread did not answer, given up");
    else if (result != WAIT_OBJECT_0)
        Trace("CBrailleDisplayDriver::WaitForCommandComplete : braille thread gone (%lu)",
              static_cast<unsigned long>(result));
    return result == WAIT_OBJECT_0;
}
