// Which edition of the driver package installer (and which copy of the INF
// text) the USB driver button writes: the 64-bit one when the tool, a 32-bit
// program, runs on 64-bit Windows.
#pragma once

#include <windows.h>

struct UsbDriverPayloads {
    WORD infId;
    WORD installerId;
    const wchar_t* installerName;

    // Asks "IsWow64Process" of kernel32, when it exists, about this process.
    static UsbDriverPayloads ForThisPlatform();
    static UsbDriverPayloads ForPlatform(bool is64Bit);
};
