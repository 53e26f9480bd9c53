// Entry points of VK.JLB: the loader's entry and the library's only export.
#include "CBrailleDisplayDriver.h"

namespace {
CBrailleDisplayDriver g_driver;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*reserved*/)
{
    if (dwReason == DLL_PROCESS_ATTACH)
        g_hDriverInstance = hInstance;
    return TRUE;
}

extern "C" IBrailleDriver* GetBrailleInterface(IBrailleDriver** ppDriver)
{
    *ppDriver = &g_driver;
    return &g_driver;
}
