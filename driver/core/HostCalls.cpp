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
        BreakOff();
        return;
    }
    m_breakOff.RaiseForClose();
    m_brailleThread.CancelIo();
    if (EnterCall("Close", kCloseWaitMs)) {
        CloseSession();
        TraceLog::EndSession();
        LeaveCall();
    }
    m_breakOff.CloseDone();
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
        CloseSession();
        TraceLog::EndSession();
    }
    m_breakOff.CallDone(m_bOpened != 0);
    m_callLock.Leave();
    return owed;
}

// ---- Sessions ------------------------------------------------------------------

// What is refused returns before anything is made; whatever fails once the
// session's first part is made goes through AbandonOpen.
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
    CloseSession();
    if (m_brailleThread.Running()) {
        Trace("CBrailleDisplayDriver::Open : a braille thread of an earlier session is still running");
        return FALSE;
    }
    // The window's thread reads the key map path and owns the receive
    // state: no window of an earlier session may still live.
    if (!DestroyHiddenWindow()) {
        Trace("CBrailleDisplayDriver::Open : the last session's hidden window is still there, refused");
        return FALSE;
    }
    if (!SetKeyMapPath(lpszDriverName))
        return FALSE;
    m_breakOff.NewSession();
    bool threadServes = false;
    if (!StartSession(lpszPort, threadServes))
        return AbandonOpen(threadServes);
    m_pCallbacks = pCallbacks;
    CopyField(m_szDisplayName, lpszDisplayName);
    CopyField(m_szDriverName, lpszDriverName);
    m_bOpened = 1;
    m_bSleeping = 0;
    Trace("CBrailleDisplayDriver::Open : Init Device %s done successfully", m_sPortName.c_str());
    return TRUE;
}

// The session's event, its braille thread with the display's handshake,
// and its hidden window; false with a trace line at the first that fails.
// threadServes: a braille thread got going and takes commands.
bool CBrailleDisplayDriver::StartSession(const char* lpszPort, bool& threadServes)
{
    m_hEventCommandComplete = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!m_hEventCommandComplete) {
        Trace("!m_hEventCommandComplete");
        return false;
    }
    if (!BeginBrailleThread()) {
        Trace("!BeginBrailleThread");
        return false;
    }
    // A thread that starts after this gives up finds the break-off set
    // and ends.
    if (m_brailleThread.WaitFor(m_hEventCommandComplete, MAX_WAIT_TIMEOUT) != WAIT_OBJECT_0) {
        Trace("WaitForSingleObject(m_hEventCommandComplete,MAX_WAIT_TIMEOUT ) != WAIT_OBJECT_0");
        return false;
    }
    threadServes = true;
    // The cell count is the handshake's answer, never the last session's.
    m_nTextCells = 0;
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

// The one way out of an Open that failed once it made something: the
// braille thread is told to let go of the display and end, and only its end
// is waited for. One that never got going is not waited for: it finds the
// break-off set when it does, and ends.
BOOL CBrailleDisplayDriver::AbandonOpen(bool threadServes)
{
    m_bOpened = 0;
    m_breakOff.Raise();
    m_brailleThread.Post(WM_BT_FIRST + BTTERMINATE, 0, 0);
    LetGoOfSession(m_brailleThread.End(threadServes ? MAX_WAIT_TIMEOUT : 0), "Open");
    return FALSE;
}

// Also ends a braille thread that an Open gave up on.
void CBrailleDisplayDriver::CloseSession()
{
    const BOOL opened = m_bOpened;
    m_bOpened = 0;
    if (!opened && !m_brailleThread.Running())
        return;
    m_breakOff.Raise();  // a reconnection in progress gives up
    LetGoOfSession(EndBrailleThread(), "Close");
}

// Nothing of the session is released under a braille thread that did not
// end, but its window: left to a thread that may end and unload the
// library, the window's procedure would be gone. The next Open or Close
// ends that thread and cleans up after it.
void CBrailleDisplayDriver::LetGoOfSession(bool threadEnded, const char* caller)
{
    if (threadEnded) {
        Cleanup();  // the window takes its key queue with it, on its own thread
        return;
    }
    Trace("CBrailleDisplayDriver::%s : the braille thread did not end; it holds the library until it does, "
          "and the next Open or Close ends its session", caller);
    DestroyHiddenWindow();
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
    m_breakOff.Raise();  // a reconnection in progress gives up; cleared as this call leaves
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
