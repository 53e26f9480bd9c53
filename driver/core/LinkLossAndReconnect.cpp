// What happens when the cable is pulled: the braille thread notices at its
// tick that the port failed, looks for the display every kRetryPeriodMs (at
// once when a port arrives) and, when it answers a handshake again, shows
// the screen reader's last line on it.
#include "CBrailleDisplayDriver.h"
#include "Trace.h"
#include "TraceLog.h"

namespace {

const DWORD kReceiveResetWaitMs = 1000;

}  // namespace

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
    TraceLog::FollowSwitch();
    if (!EndLostConnectionOnWindow())
        return false;
    for (const std::string& port : PortCandidates(m_sOpenPort)) {
        int textCells = 0;
        int statusCells = 0;
        if (!TryPort(port, textCells, statusCells)) {
            if (BrokenOff())
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
// connection. Each request has its own number, so a late answer to an
// earlier one is not taken for it. A window that does not answer in time
// means another try later; one that ended with its thread has nobody left
// to race with.
bool CBrailleDisplayDriver::EndLostConnectionOnWindow()
{
    HWND hWnd = m_hWnd;
    if (!hWnd || !IsWindow(hWnd) || !m_hBrailleReceiveReset || !m_hBrailleAbort) {
        m_handOff.Clear();  // nobody to take the lost connection's bytes; a new window starts afresh
        return true;
    }
    const LONG request = ++m_nResetRequest;
    if (!s_postToWindow(hWnd, WM_RESET_RECEIVE, static_cast<WPARAM>(request), 1))
        return false;
    HANDLE handles[2] = {m_hBrailleAbort, m_hBrailleReceiveReset};
    const DWORD start = GetTickCount();
    for (DWORD waited = 0; waited < kReceiveResetWaitMs; waited = GetTickCount() - start) {
        if (WaitForMultipleObjects(2, handles, FALSE, kReceiveResetWaitMs - waited) != WAIT_OBJECT_0 + 1)
            return false;
        if (m_nResetAnswered == request)
            return true;
    }
    Trace("CBrailleDisplayDriver::EndLostConnectionOnWindow : the hidden window did not answer in time");
    return false;
}

// A wake: the new connection's bytes start a frame afresh. The window, when
// one lives, does so on its own thread, before any byte of the new
// connection reaches it; nobody waits for it.
void CBrailleDisplayDriver::AskWindowToStartAfresh()
{
    HWND hWnd = m_hWnd;
    if (!hWnd || !IsWindow(hWnd))
        return;  // the window made next starts afresh
    const LONG request = ++m_nResetRequest;
    if (!s_postToWindow(hWnd, WM_RESET_RECEIVE, static_cast<WPARAM>(request), 0))
        Trace("CBrailleDisplayDriver::AskWindowToStartAfresh : the hidden window could not be asked (%lu)",
              GetLastError());
}
