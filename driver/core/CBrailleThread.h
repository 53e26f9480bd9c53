// The braille thread as the screen reader's threads and the hidden window's
// see it: its handle and id, whether it still takes commands, and the event
// by which it says a command ran. Begun and ended only inside a call of
// Open, Close or Sleep; posted to, and woken from a blocked port, from any
// thread. A post never reaches a thread id after the thread it named was let
// go of (ids are reused), nor a thread that took its last command: its heap
// copy would never be freed. The events live as long as the object, so a
// thread that outlives its session signals nothing a later one waits for.
//
// The break-off asks the thread to give up what it waits for (a handshake's
// pauses, a busy port's retries, a port that does not open). Raised by a
// call inside the call lock (Sleep before its command, a wait whose time ran
// out, the end of a session) and by every Close from the moment it is made,
// before it waits for the lock. Cleared in one place for each: a call's own
// when that call leaves with the session going on; a Close's when that Close
// returns. A session that ended keeps it raised for a thread that did not
// end; the next Open starts its session with it cleared, unless a Close
// still waits.
#pragma once

#include <windows.h>

class CBrailleThread {
public:
    using Proc = unsigned(__stdcall*)(void*);

    CBrailleThread();
    ~CBrailleThread();
    CBrailleThread(const CBrailleThread&) = delete;
    CBrailleThread& operator=(const CBrailleThread&) = delete;

    // Inside a call: starts proc(arg) at priority above normal.
    bool Begin(Proc proc, void* arg);
    // Inside a call, before posting what it waits for (or beginning).
    void ExpectCompletion() { ResetEvent(m_hEventCommandComplete); }
    // Inside a call: waits (pumping) for the completion or the thread's end,
    // at most waitMs: WAIT_OBJECT_0 for the completion, WAIT_OBJECT_0 + 1
    // when the thread ended (or none runs), WAIT_TIMEOUT.
    DWORD WaitForCompletion(DWORD waitMs) const;
    // The braille thread: it started, or ran a command somebody waits for.
    void Complete() { SetEvent(m_hEventCommandComplete); }
    // Inside a call: true when no thread runs any more (its handle let go of).
    bool End(DWORD waitMs);
    // Any thread.
    bool Post(UINT message, WPARAM wParam, LPARAM lParam);
    bool Running() const;

    // The break-off, inside a call (a thread blocked in opening a port is woken too).
    void BreakOff();
    void CallDone(bool sessionGoesOn);
    void NewSession() { CallDone(true); }
    // Close, from any thread, around its wait for the lock and its end of the session.
    void BreakOffForClose();
    void CloseDone();
    // What the thread's waits (and its port's) give up on.
    HANDLE BreakOffEvent() const { return m_hEventBreakOff; }
    // The braille thread itself, once it has run its last command: no post
    // reaches it from now on.
    void StopTakingCommands();

private:
    void CancelIo();
    void ShowBreakOff();

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    bool m_bTakesCommands = false;
    const HANDLE m_hEventCommandComplete;  // manual reset
    const HANDLE m_hEventBreakOff;         // manual reset
    int m_nClosers = 0;
    bool m_bBrokenOffInCall = false;
};
