// The received bytes on their way from the braille thread to the screen
// reader, and the hidden window that takes them. The window belongs to a
// thread of the screen reader (the one that opened the driver, last woke it,
// or called it after the window's thread ended), so the bytes are assembled,
// and the keys they make are delivered, on the screen reader's own thread.
// The braille thread hands the bytes over with notices; the window's thread
// owns the frame assembler, the key capture and the key queue, and starts
// them afresh where the hand-off says a new connection's bytes begin.
#include "CBrailleDisplayDriver.h"
#include "LibraryHold.h"
#include "Trace.h"

#include <dbt.h>
#include <cstring>
#include <new>
#include <string>

namespace {

const int kKeyCombBufferSize = 1000;
// Room kept for "+c" and the terminator when a typed character joins a name.
const int kMaxNameForCharacter = 990;
const WORD kSpaceDots = 0x100;

bool IsPortArrival(WPARAM wParam, LPARAM lParam)
{
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    return wParam == DBT_DEVICEARRIVAL && header && header->dbch_devicetype == DBT_DEVTYP_PORT;
}

// What Windows tells every top-level window (the hidden window is one) of
// the display's link: a port arrived (a replugged display), the PC woke
// (the display may have lost power, its port may have gone).
WPARAM LinkNoticeOf(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_DEVICECHANGE && IsPortArrival(wParam, lParam))
        return CBrailleDisplayDriver::kPortArrived;
    if (uMsg == WM_POWERBROADCAST && wParam == PBT_APMRESUMEAUTOMATIC)
        return CBrailleDisplayDriver::kResumed;
    return CBrailleDisplayDriver::kNoNotice;
}

}  // namespace

// ---- The braille thread's side ---------------------------------------------

// What the display sent goes into the hand-off at once, window or not: the
// hand-off keeps its bound while nobody takes the bytes.
void CBrailleDisplayDriver::PutReceived(size_t bound)
{
    std::string received;
    if (!m_bLost && m_display.IsConnected() && m_display.ReadReceived(received))
        m_handOff.Put(received, bound);
}

// One notice at most is on its way to the window: the bytes that wait
// (WM_DEVICE_BYTE, wParam = how many) and the key queue run behind them
// (WM_PROCESS_KEY_QUEUE, kNoticeRun, lParam = when it was posted). The
// next goes once the window took those bytes. A tick with nothing new posts
// nothing, but for one notice once the line turned quiet, by which the window
// gives up a frame cut short (and runs keys whose run was refused).
void CBrailleDisplayDriver::ForwardReceived(HWND hWnd)
{
    if (m_handOff.NoticePosted())
        return;
    const size_t waiting = m_handOff.Waiting();
    const DWORD now = GetTickCount();
    if (!waiting && !LineTurnedQuiet(now))
        return;
    m_handOff.MarkNoticePosted(true);  // first: the window may take it at once
    const char* failed = PostNotice(hWnd, waiting, now);
    if (failed && !m_bPostFailing)
        Trace("CBrailleDisplayDriver::ForwardReceived : posting the %s to the hidden window failed (%lu); %lu bytes "
              "wait for the next try",
              failed, GetLastError(), static_cast<unsigned long>(m_handOff.Waiting()));
    else if (!failed && m_bPostFailing)
        Trace("CBrailleDisplayDriver::ForwardReceived : the hidden window takes posts again");
    m_bPostFailing = failed != nullptr;
}

// A refused post leaves the bytes in the hand-off, in order, for the next
// try; a refused run leaves the keys for the next notice.
const char* CBrailleDisplayDriver::PostNotice(HWND hWnd, size_t waiting, DWORD now)
{
    if (!s_postToWindow(hWnd, WM_DEVICE_BYTE, static_cast<WPARAM>(waiting), 0)) {
        m_handOff.MarkNoticePosted(false);
        return "bytes";
    }
    if (waiting) {
        m_dwLastBytesForwarded = now;
        m_bQuietNoticed = false;
    }
    if (!s_postToWindow(hWnd, WM_PROCESS_KEY_QUEUE, kNoticeRun, static_cast<LPARAM>(now)))
        return "key queue run";
    m_bQuietNoticed = !waiting;
    return nullptr;
}

bool CBrailleDisplayDriver::WindowAlive() const
{
    HWND hWnd = m_hWnd;
    return hWnd && IsWindow(hWnd);
}

bool CBrailleDisplayDriver::LineTurnedQuiet(DWORD now) const
{
    return !m_bQuietNoticed && now - m_dwLastBytesForwarded >= CCellivantaDisplay::kQuietMsToResync;
}

// ---- The window, made and ended by the screen reader's threads -------------

// A class left by an earlier session is used as it is.
bool CBrailleDisplayDriver::RegisterWindowClass()
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HiddenWndProc;
    wc.hInstance = g_hDriverInstance ? g_hDriverInstance : GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = m_szWndClassName;
    if (RegisterClassExA(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS)
        return true;
    Trace("CBrailleDisplayDriver::RegisterWindowClass failed (%lu)", GetLastError());
    return false;
}

HWND CBrailleDisplayDriver::CreateHiddenWindow()
{
    HINSTANCE instance = g_hDriverInstance ? g_hDriverInstance : GetModuleHandleA(nullptr);
    HWND hWnd = CreateWindowExA(0, m_szWndClassName, nullptr, WS_DISABLED, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                nullptr, nullptr, instance, nullptr);
    if (!hWnd) {
        Trace("CBrailleDisplayDriver::CreateHiddenWindow failed");
        return nullptr;
    }
    // This thread owns the receive state from now on. Whatever key-up went
    // with an earlier window, no key stays held for good (a typing modifier
    // waiting for its key is kept, as through a sleep). A notice on its way
    // to an earlier window went with it.
    m_display.ResetReceiveState();
    m_handOff.MarkNoticePosted(false);
    return hWnd;
}

// Open and awake, with no window alive to take the display's bytes.
bool CBrailleDisplayDriver::HiddenWindowMissing() const
{
    return m_bOpened && !m_bSleeping && !WindowAlive();
}

// The window ends with the thread that made it, and with it every key. The
// next call of the screen reader, from a thread that lives, makes it anew.
void CBrailleDisplayDriver::ReviveHiddenWindowInCall()
{
    if (!HiddenWindowMissing())
        return;
    if (m_hWnd)
        Trace("CBrailleDisplayDriver::ReviveHiddenWindow : the hidden window ended with its thread, made anew");
    m_hWnd = CreateHiddenWindow();
}

// A window made while another call sleeps the display would outlive it.
// The call lock is taken only for a window that is missing: lines stay cheap.
void CBrailleDisplayDriver::ReviveHiddenWindowFromLine()
{
    if (!HiddenWindowMissing() || !m_callLock.TryEnter())
        return;
    ReviveHiddenWindowInCall();
    LeaveCall();
}

// Only the thread that created a window can destroy it, and Sleep(FALSE) may
// have created it on another thread than the one closing the driver: that
// thread is asked to close it (serving what is sent to this one meanwhile).
// A window left behind would keep its procedure, inside this library, after
// the library is gone; so the handle is kept until the window really is
// destroyed.
bool CBrailleDisplayDriver::DestroyHiddenWindow()
{
    if (!m_hWnd)
        return true;
    if (GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(m_hWnd);
    } else {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(m_hWnd, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, MAX_WAIT_TIMEOUT, &result);
    }
    if (IsWindow(m_hWnd)) {
        // Its procedure must outlive it: the library stays loaded for good,
        // and the class stays registered.
        Trace("CBrailleDisplayDriver::DestroyHiddenWindow : the window's thread did not destroy it");
        LibraryHold::Pin();
        return false;
    }
    m_hWnd = nullptr;
    return true;
}

// No class whose procedure lies in this library may outlive it.
void CBrailleDisplayDriver::UnregisterWindowClass()
{
    HINSTANCE instance = g_hDriverInstance ? g_hDriverInstance : GetModuleHandleA(nullptr);
    if (!m_hWnd)
        UnregisterClassA(m_szWndClassName, instance);
}

// ---- The window's own thread -----------------------------------------------

LRESULT CALLBACK CBrailleDisplayDriver::HiddenWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CBrailleDisplayDriver* driver = s_pDriver;
    const bool ours = driver && driver->ServesWindow(hWnd);
    if (ours) {
        if (uMsg == WM_DEVICE_BYTE) {
            driver->AssembleHandedBytes(static_cast<size_t>(wParam));
        } else if (uMsg == WM_PROCESS_KEY_QUEUE) {
            driver->RunKeyQueue(hWnd, wParam, lParam);
        } else if (uMsg == WM_DESTROY) {
            // Keys finished before a sleep or a close are not the user's next command.
            driver->m_display.ForgetKeyCombinations();
        } else if (const WPARAM notice = LinkNoticeOf(uMsg, wParam, lParam)) {
            // The braille thread need not wait for its next write or try.
            driver->m_brailleThread.Post(WM_BT_LOOK_AT_LINK, notice, 0);
        }
    }
    // WM_CLOSE too: another thread asks this one to destroy the window.
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

// The window is still the driver's, so this thread still owns the receive
// state and the key queue: a callback may have let it be destroyed (a
// Close or Sleep of another thread) and made anew on another thread.
bool CBrailleDisplayDriver::ServesWindow(HWND hWnd) const
{
    return IsWindow(hWnd) && hWnd == m_hWnd;
}

// The bytes the braille thread told of, in the order they came, a
// connection at a time. Before a new connection's bytes, or after bytes were
// dropped, the frames and held keys of before are no longer known.
void CBrailleDisplayDriver::AssembleHandedBytes(size_t count)
{
    std::string bytes;
    do {
        try {
            if (m_handOff.Take(count, bytes)) {
                Trace("CBrailleDisplayDriver::AssembleHandedBytes : a new connection, or received bytes dropped: key "
                      "capture starts afresh");
                m_display.ResetReceiveState();
            }
        } catch (const std::bad_alloc&) {
            Trace("CBrailleDisplayDriver::AssembleHandedBytes : no memory, %lu bytes wait",
                  static_cast<unsigned long>(count));
            return;
        }
        for (char byte : bytes)
            m_display.ProcessReceivedByte(static_cast<BYTE>(byte));
        count -= bytes.size();
    } while (count && !bytes.empty());
}

// The run that ends a notice is stamped with the time it was posted.
void CBrailleDisplayDriver::RunKeyQueue(HWND hWnd, WPARAM run, LPARAM stamp)
{
    if (DrainKeyQueue(hWnd) && run == kNoticeRun)
        m_display.ProcessPollEnd(static_cast<DWORD>(stamp));
}

// The key queue belongs to the hidden window's thread, which runs it behind
// every notice: a call from another thread leaves it to that thread.
void CBrailleDisplayDriver::ProcessKeyCombinationQueue()
{
    HWND hWnd = m_hWnd;
    if (hWnd && GetWindowThreadProcessId(hWnd, nullptr) == GetCurrentThreadId())
        DrainKeyQueue(hWnd);
}

// A callback may run a message loop (a dialog of the screen reader), where
// the next notices are served, keys included. False once the window is no
// longer this thread's: the queue is then its new thread's.
bool CBrailleDisplayDriver::DrainKeyQueue(HWND hWnd)
{
    char szKeyComb[kKeyCombBufferSize];
    while (m_display.HasKeyCombination()) {
        int nKeyCombLen = kKeyCombBufferSize;
        int nRoutingIndex = 0;
        WORD woBrailleDots = 0;
        szKeyComb[0] = '\0';
        if (!m_display.TranslateKeyCombinationForJaws(m_sTypingIniFile.c_str(), szKeyComb, nKeyCombLen,
                                                      nRoutingIndex, woBrailleDots))
            continue;  // the record is consumed either way
        // Read once: the screen reader may replace or clear its callbacks
        // from another thread while a key is being delivered, and one key
        // goes whole to the callbacks that saw its first call.
        IBrailleDriverCallbacks* callbacks = m_pCallbacks.load();
        if (!callbacks) {
            Trace("CBrailleDisplayDriver::ProcessKeyCombinationQueue : no callbacks, key dropped");
            continue;
        }
        DeliverKeyCombination(callbacks, szKeyComb, nKeyCombLen, nRoutingIndex, woBrailleDots);
        s_keepSystemAwake(ES_SYSTEM_REQUIRED);  // the screen may go dark: only the system stays up
        if (!ServesWindow(hWnd))
            return false;
    }
    return true;
}

void CBrailleDisplayDriver::DeliverKeyCombination(IBrailleDriverCallbacks* callbacks, char* szKeyComb,
                                                  int nKeyCombLen, int nRoutingIndex, WORD woBrailleDots)
{
    BYTE ch = 0;
    if (woBrailleDots == kSpaceDots) {
        ch = ' ';
    } else if (woBrailleDots) {
        const WORD wChar = callbacks->DotsToChar(this, static_cast<WORD>(woBrailleDots & 0xFF));
        ch = static_cast<BYTE>(wChar & 0xFF);
        // Which character, or its dots, is the user's own text: not traced.
        Trace("m_pCallbacks->DotsToChar : a character");
    }
    if (nKeyCombLen > 0) {
        Trace("m_pCallbacks->ProcessBrailleCommandKeys : szKeyComb = %s%s, nRoutingKey = %d", szKeyComb,
              ch && nKeyCombLen < kMaxNameForCharacter ? "+(a character)" : "", nRoutingIndex);
        if (ch && nKeyCombLen < kMaxNameForCharacter) {
            szKeyComb[nKeyCombLen] = '+';
            szKeyComb[nKeyCombLen + 1] = static_cast<char>(ch);
            szKeyComb[nKeyCombLen + 2] = '\0';
            nKeyCombLen += 2;
        }
        callbacks->ProcessBrailleCommandKeys(this, szKeyComb, nRoutingIndex);
    } else if (ch) {
        DeliverTypedKey(callbacks, ch);
    }
}

// The character travels as three bytes keyed by the tick count; the
// receiver recovers it as byte 0 ^ byte 1 ^ byte 2.
int CBrailleDisplayDriver::EncodedTypeKey(BYTE byKey)
{
    return DeliverTypedKey(m_pCallbacks.load(), byKey);
}

int CBrailleDisplayDriver::DeliverTypedKey(IBrailleDriverCallbacks* callbacks, BYTE byKey)
{
    const DWORD t = GetTickCount();
    BYTE record[3];
    record[0] = static_cast<BYTE>(t & 0xFF);
    record[2] = static_cast<BYTE>((t >> 8) & 0xFF);
    record[1] = static_cast<BYTE>(record[2] ^ record[0] ^ byKey);
    Trace("CBrailleDisplayDriver::EncodedTypeKey : a character typed");
    if (!callbacks)
        return 0;
    return callbacks->ProcessEncodedTypeKey(this, record, 3);
}
