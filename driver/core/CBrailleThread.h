// The braille thread as the screen reader's threads and the hidden window's
// see it: its handle and id, whether it still takes commands, and the event
// by which it says a command ran. Begun and ended only inside a call of
// Open, Close or Sleep; posted to, and woken from a blocked port, from any
// thread. A post never reaches a thread id after the thread it named was let
// go of (ids are reused), nor a thread that took its last command: its heap
// copy would never be freed. The event lives as long as the object, so a
// thread that outlives its session signals nothing a later one waits for.
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
    void CancelIo();
    bool Running() const;
    // The braille thread itself, once it has run its last command: no post
    // reaches it from now on.
    void StopTakingCommands();

private:
    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    bool m_bTakesCommands = false;
    const HANDLE m_hEventCommandComplete;  // manual reset
};
