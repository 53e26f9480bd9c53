// What happens when the cable is pulled: the braille thread notices at its
// tick that the port failed, looks for the display every kRetryPeriodMs (at
// once when a port arrives) and, when it answers a handshake again, shows
// the screen reader's last line on it.
#include "CBrailleDisplayDriver.h"
#include "Trace.h"
#include "TraceLog.h"

#include <exception>

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
    // Held keys and a half frame belong to this connection: the window
    // starts afresh before the next one's bytes, once it has taken what this
    // one sent (its last key still arrives). With no window, nobody takes them.
    m_handOff.NewConnection(!WindowAlive());
}

// The candidates of the last Open, with the normal handshake. The screen
// reader keeps the cell count it learned at Open.
bool CBrailleDisplayDriver::Reconnect()
{
    TraceLog::FollowSwitch();
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

// What the system said makes the thread look at its link now: a handle
// whose device went is given up before the display returns on a new one, a
// display that lost power in the PC's sleep gets its whole line again, and
// a display lost, before or now, is looked for at once (by the poll that
// follows).
void CBrailleDisplayDriver::LookAtLink(WPARAM notice)
{
    if (!m_bWatchLink)
        return;
    try {
        if (!m_bLost && !m_display.CheckLink())
            MarkLost("its port no longer answers");
        if (!m_bLost && notice == kResumed) {
            Trace("CBrailleDisplayDriver::LookAtLink : the PC woke, the line is written again");
            ShowCurrentLine();
            if (m_bLineStale)
                MarkLost("it did not take the line after the PC woke");
        }
    } catch (const std::exception& e) {
        Trace("CBrailleDisplayDriver::LookAtLink failed: %s", e.what());
    }
    m_bRetryNow = m_bLost;
}
