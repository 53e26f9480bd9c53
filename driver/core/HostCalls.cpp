// The screen reader's calls that start, end and sleep a session, and the
// lines it gives. They run on whichever of its threads calls; one call of
// Open, Close or Sleep runs at a time (the call lock).
#include "CBrailleDisplayDriver.h"
#include "SrwGuard.h"
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
    LeaveCall();
    return opened;
}

// Close ends the session whatever runs: an Open or a wake of another thread
// is broken off first, so that it ends soon and lets this call in.
void CBrailleDisplayDriver::Close()
{
    Trace("CBrailleDisplayDriver::Close");
    const bool nested = m_dwCallThread == GetCurrentThreadId();
    if (!nested) {
        m_bClosing = true;
        BreakOff();
    }
    if (EnterCall("Close", kCloseWaitMs)) {
        CloseSession();
        TraceLog::EndSession();
        LeaveCall();
    }
    if (!nested)
        m_bClosing = false;
}

BOOL CBrailleDisplayDriver::Sleep(BOOL bSleep)
{
    Trace("CBrailleDisplayDriver::Sleep -> %d", bSleep);
    if (!EnterCall("Sleep"))
        return FALSE;
    const BOOL done = SleepSession(bSleep);
    LeaveCall();
    return done;
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
    if (m_bSleeping || !m_hBrailleThread)
        return FALSE;
    ReviveHiddenWindowFromLine();
    return PostThreadCommand(BTClear, nullptr, 0);
}

// ---- The call lock -------------------------------------------------------------

// Another thread's call is waited for (a bounded time), serving messages
// sent to this thread meanwhile, as the wait for a command does: the other
// call may need this thread to destroy its window. A call from this thread
// itself can only come from a handler inside that call's wait: it would
// replace what the outer call waits on.
bool CBrailleDisplayDriver::EnterCall(const char* caller, DWORD waitMs)
{
    const DWORD self = GetCurrentThreadId();
    if (m_dwCallThread == self) {
        Trace("CBrailleDisplayDriver::%s : called from inside another call of this thread, refused", caller);
        return false;
    }
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < waitMs; waited = GetTickCount() - start) {
        const DWORD result = MsgWaitForMultipleObjects(1, &m_hEventCallFree, FALSE, waitMs - waited, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0) {
            m_dwCallThread = self;
            return true;
        }
        if (result != WAIT_OBJECT_0 + 1)
            break;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // serves what was sent
    }
    Trace("CBrailleDisplayDriver::%s : another thread's call did not end, refused", caller);
    return false;
}

// Without waiting: false while a call runs, on this thread or another.
bool CBrailleDisplayDriver::TryEnterCall()
{
    if (m_dwCallThread == GetCurrentThreadId() || WaitForSingleObject(m_hEventCallFree, 0) != WAIT_OBJECT_0)
        return false;
    m_dwCallThread = GetCurrentThreadId();
    return true;
}

void CBrailleDisplayDriver::LeaveCall()
{
    m_dwCallThread = 0;
    SetEvent(m_hEventCallFree);
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
    if (m_hBrailleThread) {
        Trace("CBrailleDisplayDriver::Open : a braille thread of an earlier session is still running");
        return FALSE;
    }
    if (!SetKeyMapPath(lpszDriverName))
        return FALSE;
    // The handshake runs the frame assembler on the braille thread: no
    // window of an earlier session may still run it on its own.
    if (!DestroyHiddenWindow()) {
        Trace("CBrailleDisplayDriver::Open : the last session's hidden window is still there, refused");
        return FALSE;
    }
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

// The session's events, its braille thread with the display's handshake,
// and its hidden window; false with a trace line at the first that fails.
// threadServes: a braille thread got going and takes commands.
bool CBrailleDisplayDriver::StartSession(const char* lpszPort, bool& threadServes)
{
    m_hEventCommandComplete = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hEventReceiveReset = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    {
        SrwGuard guard(m_commandGuard);
        m_hEventAbort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    if (!m_hEventCommandComplete || !m_hEventAbort || !m_hEventReceiveReset) {
        Trace("!m_hEventCommandComplete");
        return false;
    }
    if (!BeginBrailleThread()) {
        Trace("!BeginBrailleThread");
        return false;
    }
    // A thread that starts after this gives up finds the abort event set
    // and ends.
    if (WaitForSingleObject(m_hEventCommandComplete, MAX_WAIT_TIMEOUT) != WAIT_OBJECT_0) {
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
// abort event set when it does, and ends.
BOOL CBrailleDisplayDriver::AbandonOpen(bool threadServes)
{
    m_bOpened = 0;
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);
    PostToBrailleThread(WM_BT_FIRST + BTTERMINATE, 0, 0);
    LetGoOfSession(WaitForBrailleThreadEnd(threadServes ? MAX_WAIT_TIMEOUT : 0), "Open");
    return FALSE;
}

// Also ends a braille thread that an Open gave up on.
void CBrailleDisplayDriver::CloseSession()
{
    const BOOL opened = m_bOpened;
    m_bOpened = 0;
    if (!opened && !m_hBrailleThread)
        return;
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);  // a reconnection in progress gives up
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
    if (!m_hBrailleThread)
        return FALSE;
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);  // a reconnection in progress gives up; BTSLEEP clears it
    const BOOL done = PostThreadCommand(BTSLEEP, nullptr, bSleep ? 1 : 0);
    if (!windowGone) {
        Trace("CBrailleDisplayDriver::Sleep : the hidden window lives on with its thread, not reported asleep");
        return FALSE;
    }
    return done;
}

// The key map lives beside the driver: the folder of the driver name. The
// whole name is used: cut to a path buffer, it could name a parent folder
// and another key map.
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
