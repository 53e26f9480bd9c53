// The screen reader's calls that start, end and sleep a session, and the
// lines it gives. They run on whichever of its threads calls; one call of
// Open, Close or Sleep runs at a time (the call lock).
#include "CBrailleDisplayDriver.h"
#include "Trace.h"
#include "TraceLog.h"

#include <cstring>
#include <string>

namespace {

const char kKeyMapFile[] = "kvbrl.ini";

}  // namespace

BOOL CBrailleDisplayDriver::Open(const char* lpszPort, IBrailleDriverCallbacks* pCallbacks,
                                 const char* lpszDisplayName, const char* lpszDriverName)
{
    TraceLog::FollowSwitch();
    Trace("CBrailleDisplayDriver::Open -> %s", lpszPort ? lpszPort : "(null)");
    if (!EnterCall("Open"))
        return FALSE;
    const BOOL opened = OpenSession(lpszPort, pCallbacks, lpszDisplayName, lpszDriverName);
    if (!opened)
        TraceLog::EndSession();  // no session: nothing may keep the library loaded
    const bool closed = LeaveCall();
    return opened && !closed;
}

// Close ends the session whatever runs: an Open or a wake of another thread
// is broken off first, so that it ends soon and lets this call in. Made from
// a handler inside a call of this thread, it breaks that call off and ends
// the session as that call leaves.
void CBrailleDisplayDriver::Close()
{
    Trace("CBrailleDisplayDriver::Close");
    if (m_callLock.HeldHere()) {
        Trace("CBrailleDisplayDriver::Close : called from inside another call of this thread; the session ends when "
              "that call returns");
        m_callLock.OweClose();
        m_brailleThread.BreakOff();
        return;
    }
    m_brailleThread.BreakOffForClose();
    if (EnterCall("Close", kCloseWaitMs)) {
        EndSession(MAX_WAIT_TIMEOUT);
        TraceLog::EndSession();
        LeaveCall();
    }
    m_brailleThread.CloseDone();
}

BOOL CBrailleDisplayDriver::Sleep(BOOL bSleep)
{
    Trace("CBrailleDisplayDriver::Sleep -> %d", bSleep);
    if (!EnterCall("Sleep"))
        return FALSE;
    const BOOL done = SleepSession(bSleep);
    const bool closed = LeaveCall();
    return done && !closed;
}

BOOL CBrailleDisplayDriver::ShowText(const char* cells, int count)
{
    if (m_bSleeping || !cells || count <= 0)
        return FALSE;
    ReviveHiddenWindowFromLine();
    return PostThreadCommand(BTShowText, cells, count);
}

// The display has no status cells: the command carries nothing.
BOOL CBrailleDisplayDriver::ShowStatus(const char* cells, int count)
{
    if (m_bSleeping || !cells || count <= 0)
        return FALSE;
    return PostThreadCommand(BTShowStatus, nullptr, 0);
}

BOOL CBrailleDisplayDriver::Clear()
{
    Trace("CBrailleDisplayDriver::Clear");
    if (m_bSleeping || !m_brailleThread.Running())
        return FALSE;
    ReviveHiddenWindowFromLine();
    return PostThreadCommand(BTClear, nullptr, 0);
}

// ---- The call lock -------------------------------------------------------------

bool CBrailleDisplayDriver::EnterCall(const char* caller, DWORD waitMs)
{
    return m_callLock.Enter(caller, waitMs);
}

// A call's own break-off ends with it while the session goes on; a session
// that ended keeps it for a braille thread that did not end.
bool CBrailleDisplayDriver::LeaveCall()
{
    const bool owed = m_callLock.TakeOwedClose();
    if (owed) {
        Trace("CBrailleDisplayDriver::Close : the Close made inside this call ends the session now");
        EndSession(MAX_WAIT_TIMEOUT);
        TraceLog::EndSession();
    }
    m_brailleThread.CallDone(m_bOpened != 0);
    m_callLock.Leave();
    return owed;
}

// ---- Sessions ------------------------------------------------------------------

// What is refused returns before anything is made; whatever fails once the
// braille thread is begun ends the session again.
BOOL CBrailleDisplayDriver::OpenSession(const char* lpszPort, IBrailleDriverCallbacks* pCallbacks,
                                        const char* lpszDisplayName, const char* lpszDriverName)
{
    if (!lpszPort || !*lpszPort) {
        Trace("CBrailleDisplayDriver::Open : no port name");
        return FALSE;
    }
    if (m_bOpened) {
        // Two braille threads would share one display: end the first (also
        // a session whose host unloaded the library without Close).
        Trace("CBrailleDisplayDriver::Open : already open, closing first");
    }
    EndSession(MAX_WAIT_TIMEOUT);
    if (m_brailleThread.Running()) {
        Trace("CBrailleDisplayDriver::Open : a braille thread of an earlier session is still running");
        return FALSE;
    }
    // The window's thread reads the key map path and owns the receive
    // state: no window of an earlier session may still live.
    if (m_hWnd) {
        Trace("CBrailleDisplayDriver::Open : the last session's hidden window is still there, refused");
        return FALSE;
    }
    if (!SetKeyMapPath(lpszDriverName))
        return FALSE;
    m_brailleThread.NewSession();
    if (!BeginBrailleThread()) {
        EndSession(0);  // one that never got going finds the break-off set when it does, and ends
        return FALSE;
    }
    if (!ConnectSession(lpszPort)) {
        EndSession(MAX_WAIT_TIMEOUT);
        return FALSE;
    }
    m_pCallbacks = pCallbacks;
    CopyField(m_szDisplayName, lpszDisplayName);
    CopyField(m_szDriverName, lpszDriverName);
    m_bOpened = 1;
    m_bSleeping = 0;
    return TRUE;
}

// The display's handshake, then the hidden window; false with a trace line
// at the first that fails.
bool CBrailleDisplayDriver::ConnectSession(const char* lpszPort)
{
    // The cell count is read only once the braille thread answered: it is
    // the handshake's, which starts it at 0.
    if (!PostThreadCommand(BTINIT, lpszPort, static_cast<int>(strlen(lpszPort))) || m_nTextCells <= 0) {
        Trace("CBrailleDisplayDriver::Open : Init Device %s failed: Cleaning up", lpszPort);
        return false;
    }
    // Without its window no key would ever arrive.
    if (!RegisterWindowClass()) {
        Trace("CBrailleDisplayDriver::Open : the hidden window's class could not be registered, closing");
        return false;
    }
    m_hWnd = CreateHiddenWindow();
    if (!m_hWnd) {
        Trace("CBrailleDisplayDriver::Open : the hidden window could not be created, closing");
        return false;
    }
    return true;
}

// The one end of a session, whatever part of it was made or left (a window
// whose thread did not destroy it), in its order: lines and keys are no
// longer taken, a handshake or reconnection gives up, the braille thread
// lets go of the display and ends, then the window and its class go. A
// braille thread that does not end within threadEndMs keeps the library
// loaded until it does; the next Open or Close ends it.
void CBrailleDisplayDriver::EndSession(DWORD threadEndMs)
{
    if (!m_bOpened.exchange(0) && !m_brailleThread.Running() && !m_hWnd)
        return;  // none to end: a Close without Open, a second Close
    m_brailleThread.BreakOff();
    if (m_brailleThread.Running()) {
        m_brailleThread.Post(WM_BT_FIRST + BTTERMINATE, 0, 0);
        if (!m_brailleThread.End(threadEndMs))
            Trace("CBrailleDisplayDriver::EndSession : the braille thread did not end; it holds the library until "
                  "it does, and the next Open or Close ends its session");
    }
    if (DestroyHiddenWindow())
        UnregisterWindowClass();
}

// The window takes the keys finished before the sleep with it (they are not
// the user's next command). One that lives on with its thread would still
// deliver them: the display sleeps, but the sleep is not reported done.
BOOL CBrailleDisplayDriver::SleepSession(BOOL bSleep)
{
    m_bSleeping = bSleep;
    bool windowGone = true;
    if (bSleep)
        windowGone = DestroyHiddenWindow();
    else
        ReviveHiddenWindowInCall();
    if (!m_brailleThread.Running())
        return FALSE;
    // A reconnection in progress gives up (cleared as this call leaves); a
    // wake's own opening of the port must not.
    if (bSleep)
        m_brailleThread.BreakOff();
    const BOOL done = PostThreadCommand(BTSLEEP, nullptr, bSleep ? 1 : 0);
    if (!windowGone) {
        Trace("CBrailleDisplayDriver::Sleep : the hidden window lives on with its thread, not reported asleep");
        return FALSE;
    }
    return done;
}

// The key map lives beside the driver: the folder of the driver name. The
// whole name is used: cut to a path buffer, it could name a parent folder
// and another key map. Only while no window lives: its thread reads the path.
bool CBrailleDisplayDriver::SetKeyMapPath(const char* lpszDriverName)
{
    const char* path = lpszDriverName ? lpszDriverName : ".\\";
    const char* lastSlash = strrchr(path, '\\');
    if (!lastSlash)
        return true;
    try {
        std::string folder(path, static_cast<size_t>(lastSlash - path + 1));
        m_sTypingIniFile = folder + kKeyMapFile;
    } catch (const std::exception&) {
        Trace("CBrailleDisplayDriver::Open : no memory for the key map path");
        return false;
    }
    return true;
}

void CBrailleDisplayDriver::CopyField(char* field, const char* value)
{
    if (value)
        lstrcpynA(field, value, 256);
}
