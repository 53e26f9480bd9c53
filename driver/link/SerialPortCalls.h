// The Win32 calls the serial transport makes on an open port (opening
// aside; the closing ends what is still pending on it), gathered in one table so that a test can stand a scripted
// port in for a real one. The transport uses the system's table unless told
// otherwise.
#pragma once

#include <windows.h>

struct SerialPortCalls {
    BOOL(WINAPI* PurgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* FlushFileBuffers)(HANDLE);
    BOOL(WINAPI* GetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* SetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* SetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI* ClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* CancelIoEx)(HANDLE, LPOVERLAPPED);
    BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI* CloseHandle)(HANDLE);
};

// The system's own functions.
const SerialPortCalls& SystemSerialPortCalls();
