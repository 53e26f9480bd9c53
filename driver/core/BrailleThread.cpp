// The braille thread: every exchange with the display runs here, driven by
// commands that the screen reader's calls post as thread messages.
#include "CBrailleDisplayDriver.h"
#include "LibraryHold.h"
#include "SrwGuard.h"
#include "Trace.h"
#include "TraceLog.h"

#include <process.h>
#include <new>
#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kPollPeriodMs = 100;
const DWORD kSettleMs = 1000;       // the display's time to come up after the port opens
const DWORD kAnswerWaitMs = 200;
// A round the window has not taken for this long is posted again, in case
// the host's loop took it off without handing it on.
const DWORD kRoundLostMs = 5000;
const int kAnswerTries = 5;
const char kKeyMapFile[] = "kvbrl.ini";

bool IsUsbAlias(const char* port)
{
    return _stricmp(port, "usb") == 0;
}

// What a braille thread is given at its start. The completion event is its
// own copy: a thread that outlives its session signals only its own event,
// never the one of a later session (whose handle may even reuse the value).
struct ThreadStart {
    CBrailleDisplayDriver* driver;
    HANDLE hDone;
    HANDLE hAbort;
    HANDLE hReceiveReset;
};

// The commands whose caller waits until they ran. Only these signal the
// completion event: a line queued before a Sleep must not end Sleep's wait.
bool CallerWaitsFor(int code)
{
    return code == CBrailleDisplayDriver::BTINIT || code == CBrailleDisplayDriver::BTTERMINATE ||
           code == CBrailleDisplayDriver::BTSLEEP;
}

bool DuplicateOwn(HANDLE source, HANDLE& copy)
{
    return DuplicateHandle(GetCurrentProcess(), source, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
}

void CloseIfSet(HANDLE& handle)
{
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

// ---- The screen reader's side ------------------------------------------------

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

    m_hEventCommandComplete = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hEventAbort = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hEventReceiveReset = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!m_hEventCommandComplete || !m_hEventAbort || !m_hEventReceiveReset) {
        Trace("!m_hEventCommandComplete");
        Cleanup();
        return FALSE;
    }
    ResetEvent(m_hEventCommandComplete);
    if (!BeginBrailleThread()) {
        Trace("!BeginBrailleThread");
        Cleanup();
        return FALSE;
    }
    if (WaitForSingleObject(m_hEventCommandComplete, MAX_WAIT_TIMEOUT) != WAIT_OBJECT_0) {
        Trace("WaitForSingleObject(m_hEventCommandComplete,MAX_WAIT_TIMEOUT ) != WAIT_OBJECT_0");
        // The thread may still get going: it finds the abort event set and
        // ends, or (already past that look) ends on this as its first
        // command. The next Open makes sure it has.
        SetEvent(m_hEventAbort);
        PostToBrailleThread(WM_BT_FIRST + BTEndThread, 0, 0);
        Cleanup();
        return FALSE;
    }

    // The cell count is the handshake's answer, never the last session's.
    m_nTextCells = 0;
    if (!PostThreadCommand(BTINIT, lpszPort, static_cast<int>(strlen(lpszPort))) || m_nTextCells <= 0) {
        Trace("CBrailleDisplayDriver::Open : Init Device %s failed: Cleaning up", lpszPort);
        // A thread that does not end keeps its events: the next Open or
        // Close ends it and cleans up after it.
        if (WaitForBrailleThreadEnd())
            Cleanup();
        return FALSE;
    }
    // Without its window no key would ever arrive.
    if (!RegisterWindowClass())
        return FailOpen("the hidden window's class could not be registered");
    m_hWnd = CreateHiddenWindow();
    if (!m_hWnd)
        return FailOpen("the hidden window could not be created");
    m_pCallbacks = pCallbacks;
    CopyField(m_szDisplayName, lpszDisplayName);
    CopyField(m_szDriverName, lpszDriverName);
    m_bOpened = 1;
    m_bSleeping = 0;
    Trace("CBrailleDisplayDriver::Open : Init Device %s done successfully", m_sPortName.c_str());
    return TRUE;
}

// The display was found, but the session cannot go on: it ends as Close
// would end it.
BOOL CBrailleDisplayDriver::FailOpen(const char* why)
{
    Trace("CBrailleDisplayDriver::Open : %s, closing", why);
    m_bOpened = 1;
    CloseSession();
    return FALSE;
}

// Also ends a braille thread that an Open gave up on. Nothing of the session
// is released under a braille thread that did not end, but its window: left
// to a thread that may end and unload the library, the window's procedure
// would be gone.
void CBrailleDisplayDriver::CloseSession()
{
    const BOOL opened = m_bOpened;
    m_bOpened = 0;
    if (!opened && !m_hBrailleThread)
        return;
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);  // a reconnection in progress gives up
    if (!EndBrailleThread()) {
        Trace("CBrailleDisplayDriver::Close : the braille thread did not end; it holds the library until it does, "
              "and the next Open or Close ends its session");
        DestroyHiddenWindow();
        return;
    }
    Cleanup();  // the window takes its key queue with it, on its own thread
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
        ReviveHiddenWindow();
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

BOOL CBrailleDisplayDriver::ShowText(const char* cells, int count)
{
    if (m_bSleeping || !cells || count <= 0)
        return FALSE;
    ReviveHiddenWindowIfFree();
    return PostThreadCommand(BTShowText, cells, count);
}

BOOL CBrailleDisplayDriver::ShowStatus(const char* cells, int count)
{
    if (m_bSleeping || !cells || count <= 0)
        return FALSE;
    return PostThreadCommand(BTShowStatus, cells, count);
}

BOOL CBrailleDisplayDriver::Clear()
{
    Trace("CBrailleDisplayDriver::Clear");
    if (m_bSleeping || !m_hBrailleThread)
        return FALSE;
    ReviveHiddenWindowIfFree();
    return PostThreadCommand(BTClear, nullptr, 0);
}

// ---- The hand-off ------------------------------------------------------------

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

// From any thread; a thread blocked in opening a port is also woken.
void CBrailleDisplayDriver::BreakOff()
{
    SrwGuard guard(m_commandGuard, SrwGuard::Shared);
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);
    if (m_hBrailleThread)
        CancelSynchronousIo(m_hBrailleThread);
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

// The handle is kept while the thread still runs, so that a later Open
// knows about it and never starts a second one beside it.
bool CBrailleDisplayDriver::WaitForBrailleThreadEnd()
{
    if (!m_hBrailleThread)
        return true;
    if (WaitForSingleObject(m_hBrailleThread, MAX_WAIT_TIMEOUT) == WAIT_TIMEOUT) {
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

bool CBrailleDisplayDriver::BeginBrailleThread()
{
    auto* start = new (std::nothrow) ThreadStart{this, nullptr, nullptr, nullptr};
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

// ---- The braille thread ------------------------------------------------------

unsigned __stdcall CBrailleDisplayDriver::BrailleThreadProc(void* pvStart)
{
    ThreadStart start = *static_cast<ThreadStart*>(pvStart);
    delete static_cast<ThreadStart*>(pvStart);
    CBrailleDisplayDriver& driver = *start.driver;
    driver.m_hBrailleAbort = start.hAbort;
    driver.m_hBrailleReceiveReset = start.hReceiveReset;
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anybody posts
    // An Open that gave up waiting for this start set the abort event before
    // it left: nobody will post to this thread, which must not outlive it.
    if (WaitForSingleObject(start.hAbort, 0) == WAIT_OBJECT_0) {
        Trace("CBrailleDisplayDriver::BrailleThreadProc : started after its Open gave up, ending");
    } else {
        SetEvent(start.hDone);
        driver.ServeCommands(start.hDone);
    }
    driver.m_hBrailleAbort = nullptr;
    driver.m_hBrailleReceiveReset = nullptr;
    CloseIfSet(start.hAbort);
    CloseIfSet(start.hReceiveReset);
    CloseHandle(start.hDone);
    LibraryHold::EndThread(0);
}

// Received bytes are forwarded as soon as the transport stores them; the
// timer stays as a safety net. The event is the transport's of the moment
// (each connection has its own), read afresh before every wait.
void CBrailleDisplayDriver::ServeCommands(HANDLE hDone)
{
    const UINT_PTR timer = SetTimer(nullptr, 0, kPollPeriodMs, nullptr);
    bool goOn = true;
    while (goOn) {
        HANDLE received = m_display.ReceivedDataEvent();
        const DWORD count = (received && received != INVALID_HANDLE_VALUE) ? 1 : 0;
        const DWORD woken = MsgWaitForMultipleObjectsEx(count, &received, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (count && woken == WAIT_OBJECT_0)
            RunThreadCommand(BTPoll, nullptr, 0);
        goOn = RunQueuedMessages(hDone);
    }
    if (timer)
        KillTimer(nullptr, timer);
}

// Runs what waits in the thread's queue; false once a command ended the thread.
BOOL CBrailleDisplayDriver::RunQueuedMessages(HANDLE hDone)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!msg.hwnd && msg.message >= WM_BT_FIRST && msg.message <= WM_BT_LAST) {
            const int code = static_cast<int>(msg.message - WM_BT_FIRST);
            const BOOL goOn =
                RunThreadCommand(code, reinterpret_cast<BYTE*>(msg.wParam), static_cast<DWORD>(msg.lParam));
            if (CallerWaitsFor(code))
                SetEvent(hDone);
            if (!goOn)
                return FALSE;
        } else if (msg.message == WM_TIMER) {
            RunThreadCommand(BTPoll, nullptr, 0);
        } else if (!msg.hwnd && msg.message == WM_BT_PORT_ARRIVED) {
            m_bRetryNow = m_bLost;
            RunThreadCommand(BTPoll, nullptr, 0);
        } else if (!msg.hwnd && msg.message == WM_BT_ROUND_TAKEN) {
            RunThreadCommand(BTPoll, nullptr, 0);
        } else if (msg.message != WM_QUIT) {  // WM_QUIT does not end the thread; only its commands do
            DispatchMessageA(&msg);
        }
    }
    return TRUE;
}

// Nothing may leave the thread: a command that runs out of memory fails
// with its trace line, and the thread goes on (or ends, for BTINIT).
BOOL CBrailleDisplayDriver::RunThreadCommand(int code, BYTE* block, DWORD dwParam)
{
    try {
        return ProcessThreadCommand(code, block, dwParam);
    } catch (const std::exception& e) {
        Trace("CBrailleDisplayDriver::ProcessThreadCommand : command %d failed: %s", code, e.what());
        delete[] block;
        const bool ends = code == BTINIT || code == BTTERMINATE || code == BTEndThread;
        if (ends)
            m_display.Disconnect();  // no port or worker may outlive the thread
        return !ends;
    }
}

BOOL CBrailleDisplayDriver::ProcessThreadCommand(int code, BYTE* block, DWORD dwParam)
{
    BOOL goOn = TRUE;
    switch (code) {
    case BTEndThread:
        goOn = FALSE;
        break;
    case BTINIT:
        goOn = InitDevice(block ? reinterpret_cast<const char*>(block) : "");
        break;
    case BTTERMINATE:
        m_display.Disconnect();
        goOn = FALSE;
        break;
    case BTSLEEP:
        SleepDevice(dwParam != 0);
        break;
    case BTShowText:
        if (m_nTextCells > 0 && block) {
            m_currentLine.assign(block, block + dwParam);
            ShowLine();
        }
        break;
    case BTClear:
        if (m_nTextCells > 0) {
            m_currentLine.assign(static_cast<size_t>(m_nTextCells), 0);
            ShowLine();
        }
        break;
    case BTPoll:
        Poll();
        break;
    default:  // BTShowStatus: the display has no status cells
        break;
    }
    delete[] block;
    return goOn;
}

// Tries each candidate port in turn; the first display that reports its size wins.
bool CBrailleDisplayDriver::InitDevice(const char* lpszPort)
{
    m_nTextCells = 0;
    m_nStatusCells = 0;
    m_bWatchLink = false;
    m_bLost = false;
    m_bLineStale = false;
    m_currentLine.clear();
    m_sOpenPort = lpszPort;
    // No window lives during the open (Open made sure): the receive state is
    // this thread's, and a new session starts it clean, with no key of the
    // last one and no typing modifier waiting.
    m_handOff.Clear();
    m_display.ForgetKeyCombinations();
    CSerialBrailleDisplay::ForgetPendingModifier();
    for (const std::string& port : PortCandidates(m_sOpenPort)) {
        int textCells = 0;
        int statusCells = 0;
        if (BrokenOff())
            break;  // Close, or Open's bound
        if (TryPort(port, textCells, statusCells)) {
            m_sPortName = port;
            m_nTextCells = textCells;
            m_nStatusCells = statusCells;
            break;
        }
    }
    if (m_nTextCells == 0) {
        // Leave no port or worker open behind a failed open.
        m_display.Disconnect();
        Trace("CBrailleDisplayDriver::ProcessThreadCommand : BTINIT FAILED -> exiting the braille thread");
        return false;
    }
    m_bWatchLink = true;
    return true;
}

// "usb" asks the registry each time: a replugged display may come back on
// another COM port.
std::vector<std::string> CBrailleDisplayDriver::PortCandidates(const std::string& lpszPort)
{
    std::vector<std::string> found;
    if (IsUsbAlias(lpszPort.c_str()) && !m_display.GetUSBVirtualCOMPort(found)) {
        Trace("CCellivantaDisplay::GetUSBVirtualCOMPort returned false, maybe USB driver is not installed correctly");
        found.clear();
    }
    if (found.empty())
        found.push_back(lpszPort);
    return found;
}

// The handshake; its pauses give up when Close or Sleep is called.
bool CBrailleDisplayDriver::TryPort(const std::string& port, int& textCells, int& statusCells)
{
    m_display.SetAbortEvent(m_hBrailleAbort);  // also for the wake's own connection
    if (!m_display.ConnectTo(port.c_str()))
        return false;
    m_display.ResetReceiveState();
    if (!HandshakeWait(kSettleMs))
        return false;
    m_display.ForgetDisplayInfos();
    if (!m_display.SendInitRequest())
        return false;
    for (int attempt = 0; attempt < kAnswerTries; ++attempt) {
        if (!HandshakeWait(kAnswerWaitMs))
            return false;
        m_display.ProcessReceivedData();
        if (m_display.GetDisplayInfos(textCells, statusCells)) {
            m_display.LockDisplayInfos();
            m_display.ForgetLastCells();
            m_bQueueRunOwed = true;  // keys read with the answer wait in the queue, and no byte may follow them
            return true;
        }
    }
    return false;
}

// A handshake's pause; false when Close or Sleep asked it to give up.
bool CBrailleDisplayDriver::HandshakeWait(DWORD ms)
{
    if (!m_hBrailleAbort) {
        ::Sleep(ms);
        return true;
    }
    return WaitForSingleObject(m_hBrailleAbort, ms) == WAIT_TIMEOUT;
}

bool CBrailleDisplayDriver::BrokenOff() const
{
    return m_hBrailleAbort && WaitForSingleObject(m_hBrailleAbort, 0) == WAIT_OBJECT_0;
}

// Sleep stops the watch over the display; a wake that cannot reach the
// display leaves it to the watch. A Close that broke the wake off keeps it
// broken off.
void CBrailleDisplayDriver::SleepDevice(bool bSleep)
{
    if (m_hBrailleAbort) {
        ResetEvent(m_hBrailleAbort);
        if (m_bClosing)
            SetEvent(m_hBrailleAbort);
    }
    if (bSleep) {
        m_bWatchLink = false;
        m_bLost = false;
        if (!m_display.IsConnected())
            return;
        Trace("CBrailleDisplayDriver::ProcessThreadCommand : BTSLEEP -> Closing connection");
        BlankCells();
        m_display.Disconnect();
    } else if (!m_display.IsConnected()) {
        Trace("CBrailleDisplayDriver::ProcessThreadCommand : BTSLEEP -> Reestablishing connection");
        m_bWatchLink = m_nTextCells > 0;
        int textCells = 0;
        int statusCells = 0;
        // A handshake that failed while the display was lost left no size.
        if (!m_display.GetDisplayInfos(textCells, statusCells) || !m_display.ConnectTo(m_sPortName.c_str())) {
            if (m_bWatchLink && !m_bLost)
                MarkLost("it did not come back on wake");
            return;
        }
        m_bLost = false;
        m_handOff.Clear();
        AskReceiveReset();
        ShowCurrentLine();
    }
}

// While the display takes every line, each line is written in turn. Once
// one is not taken (a stuck display, a stalled hub) only the newest line
// matters: the lines queued behind are kept, not written, and the tick
// sends the newest until the display takes it. A lost display gets it when
// it comes back.
void CBrailleDisplayDriver::ShowLine()
{
    if (m_bLost || m_bLineStale)
        return;
    if (m_display.DisplayBraille(m_currentLine.data(), static_cast<int>(m_currentLine.size())))
        return;
    Trace("CBrailleDisplayDriver::ShowLine : the display did not take the line; the newest is sent again at the tick");
    m_bLineStale = true;
    m_dwLastLineTry = GetTickCount();
}

void CBrailleDisplayDriver::RetryStaleLine()
{
    if (!m_bLineStale || m_bLost || !m_display.IsConnected() || GetTickCount() - m_dwLastLineTry < kPollPeriodMs)
        return;
    const bool taken = m_display.DisplayBraille(m_currentLine.data(), static_cast<int>(m_currentLine.size()));
    m_dwLastLineTry = GetTickCount();  // a tick's pause after each try, however long it took
    if (!taken)
        return;
    Trace("CBrailleDisplayDriver::RetryStaleLine : the display took the newest line");
    m_bLineStale = false;
}

// What the screen reader gave last, shown whatever the display shows now; a
// display of another size than the screen reader knows gets it padded or cut.
void CBrailleDisplayDriver::ShowCurrentLine()
{
    if (m_currentLine.empty() && m_nTextCells > 0)
        m_currentLine.assign(static_cast<size_t>(m_nTextCells), 0);
    m_display.ForgetLastCells();
    m_bLineStale = false;
    ShowLine();
}

// A sleeping display shows nothing, also when it did not take the last
// line: the user's text must not stay up while the screen reader believes
// the display is asleep.
void CBrailleDisplayDriver::BlankCells()
{
    if (m_nTextCells <= 0)
        return;
    std::vector<BYTE> blank(static_cast<size_t>(m_nTextCells), 0);
    m_display.DisplayBraille(blank.data(), m_nTextCells);
}

// The bytes first, so that the last key before a failure still goes to the
// screen reader; then the watch over the link, then a line still to show.
void CBrailleDisplayDriver::Poll()
{
    HWND hWnd = m_hWnd;
    if (hWnd && !IsWindow(hWnd)) {
        if (!m_bWindowGoneTraced)
            Trace("CBrailleDisplayDriver::Poll : the hidden window ended with its thread; the newest received bytes "
                  "wait for the screen reader's next call");
        m_bWindowGoneTraced = true;
        hWnd = nullptr;
    } else {
        m_bWindowGoneTraced = false;
    }
    TakeReceived(hWnd ? CReceiveHandOff::kMaxWaiting : CReceiveHandOff::kMaxWaitingWithoutWindow);
    if (hWnd)
        ForwardReceived(hWnd);
    WatchLink();
    RetryStaleLine();
}

// What the display sent goes into the hand-off at once, window or not: the
// hand-off keeps its bound while nobody takes the bytes.
void CBrailleDisplayDriver::TakeReceived(size_t bound)
{
    std::string received;
    if (!m_bLost && m_display.IsConnected() && m_display.ReadReceived(received))
        m_handOff.Put(received, bound);
}

// At most one round of our messages waits in the window's queue: the bytes
// (WM_DEVICE_BYTE, wParam = how many wait in the hand-off) and the key queue
// run behind them (WM_PROCESS_KEY_QUEUE, wParam = the round's number, lParam
// = when it was made). The next goes once the window has taken it. A tick
// with nothing new posts nothing, but for one round once the line turned
// quiet, by which the window gives up a frame cut short.
void CBrailleDisplayDriver::ForwardReceived(HWND hWnd)
{
    if (RoundInFlight(hWnd))
        return;
    const size_t waiting = m_handOff.Waiting();
    const DWORD now = GetTickCount();
    if (!waiting && !m_bQueueRunOwed && !LineTurnedQuiet(now))
        return;
    if (!PostRound(hWnd, waiting, now))
        return;
    m_bQuietForwarded = waiting == 0;
    if (waiting)
        m_dwLastBytesForwarded = now;
}

// A post refused (the window's queue full) leaves the bytes in the hand-off,
// in order, for the next try.
bool CBrailleDisplayDriver::PostRound(HWND hWnd, size_t waiting, DWORD now)
{
    if (hWnd == m_hWndRound && m_nRoundTaken != m_nRoundPosted)
        Trace("CBrailleDisplayDriver::ForwardReceived : the hidden window has not taken its round for %lu ms, posting "
              "again", static_cast<unsigned long>(now - m_dwRoundPostedAt));
    const char* failed = nullptr;
    if (waiting && !s_postToWindow(hWnd, WM_DEVICE_BYTE, static_cast<WPARAM>(waiting), 0)) {
        failed = "bytes";
    } else {
        m_bQueueRunOwed = waiting != 0;  // until its run is posted too
        const LONG round = m_nRoundPosted == LONG_MAX ? 1 : m_nRoundPosted + 1;  // never 0
        if (s_postToWindow(hWnd, WM_PROCESS_KEY_QUEUE, static_cast<WPARAM>(round), static_cast<LPARAM>(now))) {
            m_nRoundPosted = round;
            m_hWndRound = hWnd;
            m_dwRoundPostedAt = now;
            m_bQueueRunOwed = false;
        } else {
            failed = "key queue run";
        }
    }
    if (failed && !m_bPostFailing)
        Trace("CBrailleDisplayDriver::ForwardReceived : posting the %s to the hidden window failed (%lu); %lu bytes "
              "wait for the next try",
              failed, GetLastError(), static_cast<unsigned long>(m_handOff.Waiting()));
    else if (!failed && m_bPostFailing)
        Trace("CBrailleDisplayDriver::ForwardReceived : the hidden window takes posts again");
    m_bPostFailing = failed != nullptr;
    return !failed;
}

// A round posted to a window that has since gone went with it.
bool CBrailleDisplayDriver::RoundInFlight(HWND hWnd) const
{
    return hWnd == m_hWndRound && m_nRoundTaken != m_nRoundPosted && GetTickCount() - m_dwRoundPostedAt < kRoundLostMs;
}

bool CBrailleDisplayDriver::LineTurnedQuiet(DWORD now) const
{
    return !m_bQuietForwarded && now - m_dwLastBytesForwarded >= CCellivantaDisplay::kQuietMsToResync;
}
