// The braille thread's copies of its session's abort and receive-reset
// events; null on every other thread.
#pragma once

#include <windows.h>

extern thread_local HANDLE t_hAbort;
extern thread_local HANDLE t_hReceiveReset;
