// What the screen reader's side and the braille thread agree on: what a
// braille thread is given at its start, and which commands the caller waits for.
#pragma once

#include "CBrailleDisplayDriver.h"
#include "CloseIfSet.h"

// The events are the thread's own copies: a thread that outlives its
// session signals only its own event, never the one of a later session
// (whose handle may even reuse the value).
struct BrailleThreadStart {
    CBrailleDisplayDriver* driver;
    HANDLE hDone;
    HANDLE hAbort;
};

// Only these signal the completion event: a line queued before a Sleep must
// not end Sleep's wait.
inline bool CallerWaitsFor(int code)
{
    return code == CBrailleDisplayDriver::BTINIT || code == CBrailleDisplayDriver::BTTERMINATE ||
           code == CBrailleDisplayDriver::BTSLEEP;
}
