// The one way the driver lets go of a handle it may not hold: closed when
// set, and null afterwards.
#pragma once

#include <windows.h>

inline void CloseIfSet(HANDLE& handle)
{
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}
