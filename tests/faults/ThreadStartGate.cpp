#define VK_THREAD_GATE_BUILD
#include "ThreadStartGate.h"

namespace {

const DWORD kLongestHoldMs = 30000;  // a test that forgot to open never hangs for good

HANDLE g_open = nullptr;
volatile LONG g_holdNext = 0;
volatile LONG g_held = 0;

}  // namespace

void HoldNextThreadStart()
{
    ResetEvent(g_open);
    InterlockedExchange(&g_held, 0);
    InterlockedExchange(&g_holdNext, 1);
}

void OpenThreadStarts()
{
    InterlockedExchange(&g_holdNext, 0);
    SetEvent(g_open);
}

DWORD HeldThreadId()
{
    return static_cast<DWORD>(InterlockedCompareExchange(&g_held, 0, 0));
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_open = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        return g_open != nullptr;
    }
    if (reason == DLL_THREAD_ATTACH && InterlockedExchange(&g_holdNext, 0)) {
        InterlockedExchange(&g_held, static_cast<LONG>(GetCurrentThreadId()));
        WaitForSingleObject(g_open, kLongestHoldMs);
    }
    return TRUE;
}
