// The record of one overlapped operation of CSerialCommHelper, shared by the
// writes and the worker.
#pragma once

#include "CSerialCommHelper.h"

// One overlapped operation on the port and all the system may write while it
// runs: the record, its event, the bytes read or written. On
// the heap, so that an operation a cancel does not end can be left to the
// system rather than freed under it.
struct CSerialCommHelper::PortOperation {
    OVERLAPPED overlapped{};
    char* pBytes = nullptr;

    // Null when memory or the event cannot be had.
    static PortOperation* New(DWORD byteCount);
    static void Free(PortOperation*& operation);
};

