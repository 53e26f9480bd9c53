// Serial port transport: opens and configures one COM port, drains it on a
// worker thread into the receive buffer, writes with a bounded wait.
#pragma once

#include "CSerialBuffer.h"

#include <windows.h>
#include <atomic>
#include <string>

enum CommState {
    CS_Unknown = 0,
    CS_UnInit = 1,
    CS_Init = 2,
    CS_Started = 3,
    CS_Stopped = 4,
};

class CSerialCommHelper {
public:
    CSerialCommHelper();
    virtual ~CSerialCommHelper();

    HRESULT Init(std::string portName, DWORD dwBaudRate, BYTE byParity, BYTE byStopBits, BYTE byByteSize);
    HRESULT Start();
    HRESULT Stop();
    HRESULT UnInit();
    HRESULT Write(const char* data, DWORD count);
    HRESULT ReadAvailable(std::string& data);

    bool IsConnected() const { return m_bConnected; }
    CommState GetState() const { return m_state; }

    // The port name as it is handed to CreateFileA.
    static std::string NormalisePortName(const std::string& portName);

    // Seam around the opening of the port, so that tests can play a busy port.
    using OpenPortFn = HANDLE (*)(const char* devicePath);
    static OpenPortFn SetOpenPortFn(OpenPortFn fn);

private:
    static unsigned __stdcall ThreadFn(void* pvParam);
    bool CanProcess() const { return m_state == CS_Started; }
    void SetDataReadEvent() { SetEvent(m_hDataReadEvent); }

    std::atomic<CommState> m_state;
    HANDLE m_hPort;
    HANDLE m_hStopEvent;
    HANDLE m_hThread;
    HANDLE m_hThreadReady;
    HANDLE m_hDataReadEvent;
    std::atomic<bool> m_bConnected;
    CSerialBuffer m_rxBuffer;
};
