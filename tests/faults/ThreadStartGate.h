// A gate on thread starts: while it is shut, the next thread the process
// starts is held in its library notifications, before its own code runs,
// as a loader busy with another library would hold it.
#pragma once

#include <windows.h>

#ifdef VK_THREAD_GATE_BUILD
#define VK_THREAD_GATE_API extern "C" __declspec(dllexport)
#else
#define VK_THREAD_GATE_API extern "C" __declspec(dllimport)
#endif

// The next thread to start is held until OpenThreadStarts (or 30 s).
VK_THREAD_GATE_API void HoldNextThreadStart();
VK_THREAD_GATE_API void OpenThreadStarts();
// The thread held, 0 until one is.
VK_THREAD_GATE_API DWORD HeldThreadId();
