// The braille thread: every exchange with the display runs here, driven by
// commands that the screen reader's calls post as thread messages.
#include "CBrailleDisplayDriver.h"
#include "Trace.h"

#include <process.h>
#include <new>
#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kPollPeriodMs = 100;
const DWORD kSettleMs = 1000;       // the display's time to come up after the port opens
const DWORD kAnswerWaitMs = 200;
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

// The braille thread's copies of its session's abort and receive-reset events.
thread_local HANDLE t_hAbort = nullptr;
thread_local HANDLE t_hReceiveReset = nullptr;

const DWORD kReceiveResetWaitMs = 1000;

// A handshake's pause; false when Close or Sleep asked it to give up.
bool HandshakeWait(DWORD ms)
{
    if (!t_hAbort) {
        ::Sleep(ms);
        return true;
    }
    return WaitForSingleObject(t_hAbort, ms) == WAIT_TIMEOUT;
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
    Trace("CBrailleDisplayDriver::Open -> %s", lpszPort ? lpszPort : "(null)");
    if (!lpszPort || !*lpszPort) {
        Trace("CBrailleDisplayDriver::Open : no port name");
        return FALSE;
    }
    if (m_bOpened) {
        // Two braille threads would share one display: end the first.
        Trace("CBrailleDisplayDriver::Open : already open, closing first");
        Close();
    }
    if (!EndEarlierBrailleThread() || !SetKeyMapPath(lpszDriverName))
        return FALSE;

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
        PostThreadMessageA(m_dwBrailleThreadId, WM_BT_FIRST + BTEndThread, 0, 0);
        Cleanup();
        return FALSE;
    }

    PostThreadCommand(BTINIT, lpszPort, static_cast<int>(strlen(lpszPort)));

    if (m_nTextCells <= 0) {
        Trace("CBrailleDisplayDriver::Open : Init Device %s failed: Cleaning up", lpszPort);
        WaitForBrailleThreadEnd();
        Cleanup();
        return FALSE;
    }
    m_pCallbacks = pCallbacks;
    CopyField(m_szDisplayName, lpszDisplayName);
    CopyField(m_szDriverName, lpszDriverName);
    RegisterWindowClass();
    DestroyHiddenWindow();
    m_hWnd = CreateHiddenWindow();
    m_bOpened = 1;
    m_bSleeping = 0;
    Trace("CBrailleDisplayDriver::Open : Init Device %s done successfully", m_sPortName.c_str());
    return TRUE;
}

void CBrailleDisplayDriver::Close()
{
    Trace("CBrailleDisplayDriver::Close");
    if (!m_bOpened)
        return;
    m_bOpened = 0;
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);  // a reconnection in progress gives up
    if (m_hBrailleThread)
        PostThreadCommand(BTTERMINATE, nullptr, 0);
    WaitForBrailleThreadEnd();
    Cleanup();
}

BOOL CBrailleDisplayDriver::Sleep(BOOL bSleep)
{
    Trace("CBrailleDisplayDriver::Sleep -> %d", bSleep);
    m_bSleeping = bSleep;
    if (bSleep)
        DestroyHiddenWindow();
    else if (!m_hWnd)
        m_hWnd = CreateHiddenWindow();
    if (!m_hBrailleThread)
        return FALSE;
    if (m_hEventAbort)
        SetEvent(m_hEventAbort);  // a reconnection in progress gives up; BTSLEEP clears it
    return PostThreadCommand(BTSLEEP, nullptr, bSleep);
}

BOOL CBrailleDisplayDriver::ShowText(const char* cells, int count)
{
    if (m_bSleeping || !cells || count <= 0)
        return FALSE;
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
    return PostThreadCommand(BTClear, nullptr, 0);
}

// ---- The hand-off ------------------------------------------------------------

// The block is a zero-filled copy one byte longer than the data, so a port
// name arrives terminated; the braille thread frees it.
BOOL CBrailleDisplayDriver::PostThreadCommand(int code, const void* data, int count)
{
    if (!m_hBrailleThread)
        return FALSE;
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
    const BOOL posted = PostThreadMessageA(m_dwBrailleThreadId, WM_BT_FIRST + code,
                                           reinterpret_cast<WPARAM>(block), static_cast<LPARAM>(count));
    if (!posted) {
        // Nobody will signal for a command that was never posted.
        Trace("CBrailleDisplayDriver::PostThreadCommand : posting %d failed", code);
        delete[] block;
        return FALSE;
    }
    if (waits)
        WaitForCommandComplete();
    return posted;
}

// Serves messages sent to this thread while it waits, and gives up when the
// braille thread has ended and can no longer signal.
void CBrailleDisplayDriver::WaitForCommandComplete()
{
    HANDLE handles[2] = {m_hEventCommandComplete, m_hBrailleThread};
    const DWORD count = m_hBrailleThread ? 2 : 1;
    for (;;) {
        const DWORD result = MsgWaitForMultipleObjects(count, handles, FALSE, MAX_WAIT_TIMEOUT, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            return;
        if (result == WAIT_OBJECT_0 + count) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            continue;
        }
        if (result == WAIT_TIMEOUT)
            continue;
        Trace("CBrailleDisplayDriver::WaitForCommandComplete : braille thread gone (%lu)",
              static_cast<unsigned long>(result));
        return;
    }
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
    CloseHandle(m_hBrailleThread);
    m_hBrailleThread = nullptr;
    return true;
}

// A thread of an earlier session that never got going (or never ended) is
// asked to end before another is started.
bool CBrailleDisplayDriver::EndEarlierBrailleThread()
{
    if (!m_hBrailleThread)
        return true;
    PostThreadMessageA(m_dwBrailleThreadId, WM_BT_FIRST + BTEndThread, 0, 0);
    if (WaitForBrailleThreadEnd())
        return true;
    Trace("CBrailleDisplayDriver::Open : a braille thread of an earlier session is still running");
    return false;
}

void CBrailleDisplayDriver::Cleanup()
{
    Trace("CBrailleDisplayDriver::Cleanup");
    CloseIfSet(m_hEventCommandComplete);
    CloseIfSet(m_hEventAbort);
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
    unsigned threadId = 0;
    const uintptr_t thread = copied ? _beginthreadex(nullptr, 0, BrailleThreadProc, start, 0, &threadId) : 0;
    if (!thread) {
        CloseIfSet(start->hDone);
        CloseIfSet(start->hAbort);
        CloseIfSet(start->hReceiveReset);
        delete start;
        return false;
    }
    m_hBrailleThread = reinterpret_cast<HANDLE>(thread);
    m_dwBrailleThreadId = threadId;
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
    t_hAbort = start.hAbort;
    t_hReceiveReset = start.hReceiveReset;
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anybody posts
    // An Open that gave up waiting for this start set the abort event before
    // it left: nobody will post to this thread, which must not outlive it.
    if (WaitForSingleObject(start.hAbort, 0) == WAIT_OBJECT_0) {
        Trace("CBrailleDisplayDriver::BrailleThreadProc : started after its Open gave up, ending");
    } else {
        SetEvent(start.hDone);
        start.driver->ServeCommands(start.hDone);
    }
    t_hAbort = nullptr;
    t_hReceiveReset = nullptr;
    CloseIfSet(start.hAbort);
    CloseIfSet(start.hReceiveReset);
    CloseHandle(start.hDone);
    return 0;
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
        SleepDevice();
        break;
    case BTShowText:
        // Kept while the display is lost, and shown when it comes back.
        if (m_nTextCells > 0 && block) {
            m_currentLine.assign(block, block + dwParam);
            if (!m_bLost)
                m_display.DisplayBraille(block, static_cast<int>(dwParam));
        }
        break;
    case BTClear:
        if (m_nTextCells > 0) {
            m_currentLine.assign(static_cast<size_t>(m_nTextCells), 0);
            if (!m_bLost)
                m_display.DisplayBraille(m_currentLine.data(), m_nTextCells);
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
    m_currentLine.clear();
    m_sOpenPort = lpszPort;
    for (const std::string& port : PortCandidates(m_sOpenPort)) {
        int textCells = 0;
        int statusCells = 0;
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
    m_display.SetAbortEvent(t_hAbort);  // also for the wake's own connection
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
            return true;
        }
    }
    return false;
}

// Sleep stops the watch over the display; a wake that cannot reach the
// display leaves it to the watch.
void CBrailleDisplayDriver::SleepDevice()
{
    if (t_hAbort)
        ResetEvent(t_hAbort);
    if (m_bSleeping) {
        m_bWatchLink = false;
        m_bLost = false;
        if (!m_display.IsConnected())
            return;
        Trace("CBrailleDisplayDriver::ProcessThreadCommand : BTSLEEP -> Closing connection");
        SaveAndBlankCells();
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
        m_display.ResetReceiveState();
        ShowCurrentLine();
    }
}

// What the screen reader gave last, shown whatever the display shows now; a
// display of another size than the screen reader knows gets it padded or cut.
void CBrailleDisplayDriver::ShowCurrentLine()
{
    if (m_currentLine.empty() && m_nTextCells > 0)
        m_currentLine.assign(static_cast<size_t>(m_nTextCells), 0);
    m_display.ForgetLastCells();
    m_display.DisplayBraille(m_currentLine.data(), static_cast<int>(m_currentLine.size()));
}

// The saved image always holds the current cell count (a later open may
// have learned a larger display).
void CBrailleDisplayDriver::SaveAndBlankCells()
{
    if (m_nTextCells <= 0)
        return;
    if (m_nSavedCells < m_nTextCells) {
        delete[] m_pSavedCells;
        m_pSavedCells = new (std::nothrow) BYTE[static_cast<size_t>(m_nTextCells)]();
        m_nSavedCells = m_pSavedCells ? m_nTextCells : 0;
    }
    if (!m_pSavedCells)
        return;
    m_display.GetCells(m_pSavedCells, m_nSavedCells);
    std::vector<BYTE> blank(static_cast<size_t>(m_nTextCells), 0);
    m_display.DisplayBraille(blank.data(), m_nTextCells);
}

// Hands what the display sent to the hidden window's thread, then asks it to
// drain the key queue.
void CBrailleDisplayDriver::Poll()
{
    WatchLink();
    HWND hWnd = m_hWnd;
    // Before the window exists (during the open) the bytes wait in the buffer.
    if (m_bLost || !hWnd || !m_display.IsConnected())
        return;
    m_display.ProcessReceivedData(hWnd, WM_DEVICE_BYTE);
    PostMessageA(hWnd, WM_PROCESS_KEY_QUEUE, 0, static_cast<LPARAM>(GetTickCount()));
}

// ---- A display that goes away and comes back ----------------------------------

// While the driver is open and awake: a port that failed means the display
// is gone; it is then looked for every kRetryPeriodMs (at once when a port
// arrives) until it answers a handshake again.
void CBrailleDisplayDriver::WatchLink()
{
    if (!m_bWatchLink)
        return;
    if (!m_bLost) {
        if (m_display.IsLinkLost())
            MarkLost("the port failed");
        return;
    }
    if (!m_bRetryNow && static_cast<LONG>(GetTickCount() - m_dwNextRetry) < 0)
        return;
    m_bRetryNow = false;
    if (!Reconnect())
        m_dwNextRetry = GetTickCount() + kRetryPeriodMs;
}

void CBrailleDisplayDriver::MarkLost(const char* why)
{
    Trace("CBrailleDisplayDriver::WatchLink : display lost on %s (%s), looking for it on %s every %lu ms",
          m_sPortName.c_str(), why, m_sOpenPort.c_str(), static_cast<unsigned long>(kRetryPeriodMs));
    m_display.Disconnect();
    m_bLost = true;
    m_dwNextRetry = GetTickCount() + kRetryPeriodMs;
}

// The candidates of the last Open, with the normal handshake. The screen
// reader keeps the cell count it learned at Open.
bool CBrailleDisplayDriver::Reconnect()
{
    if (!ForgetReceiveState())
        return false;
    for (const std::string& port : PortCandidates(m_sOpenPort)) {
        int textCells = 0;
        int statusCells = 0;
        if (!TryPort(port, textCells, statusCells)) {
            if (t_hAbort && WaitForSingleObject(t_hAbort, 0) == WAIT_OBJECT_0)
                break;
            continue;
        }
        m_bLost = false;
        m_sPortName = port;
        Trace("CBrailleDisplayDriver::Reconnect : the display is back on %s", port.c_str());
        if (textCells != m_nTextCells)
            Trace("CBrailleDisplayDriver::Reconnect : the display has %d cells, the screen reader keeps %d: lines "
                  "are padded or cut", textCells, m_nTextCells);
        ShowCurrentLine();
        return true;
    }
    m_display.Disconnect();
    return false;
}

// Held keys and a half frame belong to the connection that was lost. The
// hidden window's thread owns them: it is asked to forget them and, since it
// handles its messages in order, has then also handled every byte of the old
// connection. A window that does not answer in time means another try later.
bool CBrailleDisplayDriver::ForgetReceiveState()
{
    HWND hWnd = m_hWnd;
    if (!hWnd || !t_hReceiveReset || !t_hAbort) {
        m_display.ResetReceiveState();
        return true;
    }
    ResetEvent(t_hReceiveReset);
    if (!PostMessageA(hWnd, WM_RESET_RECEIVE, 0, 0))
        return false;
    HANDLE handles[2] = {t_hAbort, t_hReceiveReset};
    return WaitForMultipleObjects(2, handles, FALSE, kReceiveResetWaitMs) == WAIT_OBJECT_0 + 1;
}
