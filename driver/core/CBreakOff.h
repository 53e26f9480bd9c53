// The break-off: asks the braille thread to give up what it waits for (a
// handshake's pauses, a busy port's retries). Set by a call inside the call
// lock (Sleep before its command, a wait whose time ran out, the end of a
// session) and by every Close from the moment it is made, before it waits
// for the lock. Cleared in one place for each: a call's own when that call
// leaves with the session going on; a Close's when that Close returns. A
// session that ended keeps it set for a braille thread that did not end; the
// next Open starts its session with it cleared, unless a Close still waits.
#pragma once

#include <windows.h>

class CBreakOff {
public:
    CBreakOff();
    ~CBreakOff();
    CBreakOff(const CBreakOff&) = delete;
    CBreakOff& operator=(const CBreakOff&) = delete;

    // Inside a call.
    void Raise();
    void CallDone(bool sessionGoesOn);
    void NewSession();
    // Close, from any thread, around its wait for the lock and its end of the session.
    void RaiseForClose();
    void CloseDone();
    // The event the braille thread's waits (and its port's) give up on; it
    // lives as long as the driver.
    HANDLE Event() const { return m_hEvent; }
    bool IsRaised() const;

private:
    void Update();

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    const HANDLE m_hEvent;  // manual reset
    int m_nClosers = 0;
    bool m_bRaisedInCall = false;
};
