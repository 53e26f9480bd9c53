// Receive buffer of the serial transport: bytes drained from the port by the
// worker thread, handed out whole to the owner under one lock.
#pragma once

#include <windows.h>
#include <string>

class CSerialBuffer {
public:
    CSerialBuffer();
    virtual ~CSerialBuffer();
    CSerialBuffer(const CSerialBuffer&) = delete;
    CSerialBuffer& operator=(const CSerialBuffer&) = delete;

    // Recursive: the worker holds it for a whole drain pass and flushes inside it.
    void Lock() { EnterCriticalSection(&m_lock); }
    void Unlock() { LeaveCriticalSection(&m_lock); }

    // The caller holds the lock.
    void AddData(const char* bytes, size_t count);
    // Moves everything received into out, empties the buffer and resets hEvent;
    // true when out holds at least one byte.
    bool Read_Available(std::string& out, HANDLE hEvent);
    void Flush();

private:
    std::string m_data;
    CRITICAL_SECTION m_lock;
};
