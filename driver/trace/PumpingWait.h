// The one wait of the screen reader's threads: for one of a few handles, a
// bounded time, serving this thread's messages meanwhile. Once a message is
// sent to the thread, every message waiting for it is dispatched (the screen
// reader's own, the hidden window's keys): a thread of the screen reader that
// sends to this one would otherwise hang with it. A quit taken off the queue
// meanwhile is posted again once the wait is over, so that the caller's loop
// still ends.
#pragma once

#include <windows.h>

// WAIT_OBJECT_0 + the index of the handle that was signalled, WAIT_TIMEOUT,
// or WAIT_FAILED.
DWORD PumpingWait(DWORD count, const HANDLE* handles, DWORD waitMs);
