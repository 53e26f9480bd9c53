// The braille thread: every exchange with the display runs here, driven by
// the commands the screen reader's calls post as thread messages and by its
// tick: the handshake, the lines, sleep and wake, and the received bytes
// taken from the transport.
#include "CBrailleDisplayDriver.h"
#include "LibraryHold.h"
#include "Trace.h"

#include <string>
#include <vector>

namespace {

const DWORD kPollPeriodMs = 100;
// While bytes that came after a notice's post wait (the window takes what the
// notice told of), they are looked at again this soon, not at the next tick.
const DWORD kBytesBehindANoticeMs = 2;
const DWORD kSettleMs = 1000;       // the display's time to come up after the port opens
const DWORD kAnswerWaitMs = 200;
const int kAnswerTries = 5;

bool IsUsbAlias(const char* port)
{
    return _stricmp(port, "usb") == 0;
}

}  // namespace

unsigned __stdcall CBrailleDisplayDriver::BrailleThreadProc(void* pvDriver)
{
    CBrailleDisplayDriver& driver = *static_cast<CBrailleDisplayDriver*>(pvDriver);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anybody posts
    // An Open that gave up waiting for this start left the break-off set:
    // nobody waits for this thread, which must not outlive its session.
    if (driver.BrokenOff()) {
        Trace("CBrailleDisplayDriver::BrailleThreadProc : started after its Open gave up, ending");
    } else {
        driver.m_brailleThread.Complete();
        driver.ServeCommands();
    }
    driver.DropCommandsLeft();
    LibraryHold::EndThread(0);
}

// Received bytes are forwarded as soon as the transport stores them; the
// timer stays as a safety net. The event is the transport's of the moment
// (each connection has its own), read afresh before every wait.
void CBrailleDisplayDriver::ServeCommands()
{
    const UINT_PTR timer = SetTimer(nullptr, 0, kPollPeriodMs, nullptr);
    bool goOn = true;
    while (goOn) {
        HANDLE received = m_display.ReceivedDataEvent();
        const DWORD count = (received && received != INVALID_HANDLE_VALUE) ? 1 : 0;
        const DWORD wait = m_handOff.NoticePosted() && m_handOff.Waiting() ? kBytesBehindANoticeMs : INFINITE;
        const DWORD woken = MsgWaitForMultipleObjectsEx(count, &received, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if ((count && woken == WAIT_OBJECT_0) || woken == WAIT_TIMEOUT)
            ProcessThreadCommandSafely(BTPoll, nullptr, 0);
        goOn = RunQueuedMessages();
    }
    if (timer)
        KillTimer(nullptr, timer);
}

// Once the last command ran, no post reaches the thread; those that came
// before it are not run, but their copies are freed.
void CBrailleDisplayDriver::DropCommandsLeft()
{
    m_brailleThread.StopTakingCommands();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_BT_FIRST, WM_BT_LAST, PM_REMOVE)) {
        if (!msg.hwnd)
            delete[] reinterpret_cast<BYTE*>(msg.wParam);
    }
}

// Runs what waits in the thread's queue; false once a command ended the thread.
BOOL CBrailleDisplayDriver::RunQueuedMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!msg.hwnd && msg.message >= WM_BT_FIRST && msg.message <= WM_BT_LAST) {
            const int code = static_cast<int>(msg.message - WM_BT_FIRST);
            const BOOL goOn =
                ProcessThreadCommandSafely(code, reinterpret_cast<BYTE*>(msg.wParam), static_cast<DWORD>(msg.lParam));
            if (CallerWaitsFor(code))
                m_brailleThread.Complete();
            if (!goOn)
                return FALSE;
        } else if (msg.message == WM_TIMER) {
            ProcessThreadCommandSafely(BTPoll, nullptr, 0);
        } else if (!msg.hwnd && msg.message == WM_BT_LOOK_AT_LINK) {
            LookAtLink(msg.wParam);
            ProcessThreadCommandSafely(BTPoll, nullptr, 0);
        } else if (msg.message != WM_QUIT) {  // WM_QUIT does not end the thread; only its commands do
            DispatchMessageA(&msg);
        }
    }
    return TRUE;
}

// Nothing may leave the thread: a command that runs out of memory fails
// with its trace line, and the thread goes on (or ends, for BTINIT).
BOOL CBrailleDisplayDriver::ProcessThreadCommandSafely(int code, BYTE* block, DWORD dwParam)
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
    m_handOff.NewConnection(true);
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
            Trace("CBrailleDisplayDriver::Open : Init Device %s done successfully", port.c_str());
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

// The handshake; its pauses give up when Close or Sleep is called. The
// answer is read apart from the receive state, which the window's thread
// owns (a window may live through a reconnection); what the display sent
// meanwhile goes to the window like any other bytes, keys included.
bool CBrailleDisplayDriver::TryPort(const std::string& port, int& textCells, int& statusCells)
{
    m_display.SetAbortEvent(m_brailleThread.BreakOffEvent());  // also for the wake's own connection
    if (!m_display.ConnectTo(port.c_str()))
        return false;
    if (!HandshakeWait(kSettleMs))
        return false;
    m_display.ForgetDisplayInfos();
    if (!m_display.SendInitRequest())
        return false;
    CCellivantaDisplay::HandshakeReader answer(m_display);
    for (int attempt = 0; attempt < kAnswerTries; ++attempt) {
        if (!HandshakeWait(kAnswerWaitMs) || !answer.Read())
            return false;
        if (m_display.GetDisplayInfos(textCells, statusCells)) {
            m_display.ForgetLastCells();
            m_handOff.Put(answer.Bytes(), CReceiveHandOff::kMaxWaitingWithoutWindow);
            return true;
        }
    }
    return false;
}

// A handshake's pause; false when Close or Sleep asked it to give up.
bool CBrailleDisplayDriver::HandshakeWait(DWORD ms) const
{
    return WaitForSingleObject(m_brailleThread.BreakOffEvent(), ms) == WAIT_TIMEOUT;
}

bool CBrailleDisplayDriver::BrokenOff() const
{
    return !HandshakeWait(0);
}

// Sleep stops the watch over the display; a wake that cannot reach the
// display leaves it to the watch.
void CBrailleDisplayDriver::SleepDevice(bool bSleep)
{
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
        m_handOff.NewConnection(true);  // the keys before the sleep went with the window
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
// line or stopped reading: the user's text must not stay up while the
// screen reader believes the display is asleep.
void CBrailleDisplayDriver::BlankCells()
{
    if (m_nTextCells > 0)
        m_display.LeaveBlank();
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
    PutReceived(hWnd ? CReceiveHandOff::kMaxWaiting : CReceiveHandOff::kMaxWaitingWithoutWindow);
    if (hWnd)
        ForwardReceived(hWnd);
    WatchLink();
    RetryStaleLine();
}
