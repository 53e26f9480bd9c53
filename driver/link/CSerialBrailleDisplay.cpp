#include "CSerialBrailleDisplay.h"
#include "Trace.h"

#include <algorithm>
#include <cstring>

CSerialBrailleDisplay::CSerialBrailleDisplay() = default;

// The queue's records go with it; the owner has disconnected before.
CSerialBrailleDisplay::~CSerialBrailleDisplay() = default;

bool CSerialBrailleDisplay::ConnectTo(const char* portName)
{
    if (!portName) {
        Trace("CSerialBrailleDisplay::ConnectTo Failed: Invalid portName argument");
        return false;
    }
    if (FAILED(m_serial.Init(portName, m_dwBaudRate, m_byParity, m_byStopBits, m_byByteSize))) {
        Trace("CSerialBrailleDisplay::ConnectTo Failed: COM Init failed");
        return false;
    }
    if (FAILED(m_serial.Start())) {
        Trace("CSerialBrailleDisplay::ConnectTo Failed: COM Start failed");
        return false;
    }
    m_claim.Take(portName);
    Trace("CSerialBrailleDisplay::ConnectTo Succeeded on %s", portName);
    return true;
}

// Geometry and images survive, so that a reconnection can show the saved
// cells without a new handshake.
bool CSerialBrailleDisplay::Disconnect()
{
    if (FAILED(m_serial.Stop()) || FAILED(m_serial.UnInit())) {
        Trace("CSerialBrailleDisplay::Disconnect failed");
        return false;
    }
    m_claim.Release();
    return true;
}

bool CSerialBrailleDisplay::IsConnected()
{
    return m_serial.IsConnected();
}

bool CSerialBrailleDisplay::GetDisplayInfos(int& nTextCells, int& nStatusCells)
{
    if (m_nCellCount == 0) {
        Trace("CSerialBrailleDisplay::GetDisplayInfos failed");
        return false;
    }
    nTextCells = m_nCellCount;
    nStatusCells = m_nStatusCellCount;
    return true;
}

int CSerialBrailleDisplay::StatusCellsInImage() const
{
    return std::clamp(m_nStatusCellCount, 0, MAX_CELLS);
}

int CSerialBrailleDisplay::TextCellsInImage() const
{
    return std::clamp(m_nCellCount, 0, MAX_CELLS - StatusCellsInImage());
}

bool CSerialBrailleDisplay::DisplayBraille(const BYTE* cells, int count)
{
    if (m_nCellCount > 0) {
        const int first = StatusCellsInImage();
        memset(m_cells + first, 0, MAX_CELLS - first);
        if (cells && count > 0)
            memcpy(m_cells + first, cells, std::min(count, TextCellsInImage()));
        if (m_bLastCellsShown && memcmp(m_cells, m_lastCells, MAX_CELLS) == 0)
            return true;
        // Recorded only once sent: the same cells given again after a failed
        // send are sent again.
        m_bLastCellsShown = false;
        if (Refresh()) {
            memcpy(m_lastCells, m_cells, MAX_CELLS);
            m_bLastCellsShown = true;
            return true;
        }
    }
    Trace("CSerialBrailleDisplay::DisplayBraille failed");
    return false;
}

// Never copies more than the caller's buffer holds.
bool CSerialBrailleDisplay::GetCells(BYTE* buffer, int size)
{
    if (m_nCellCount <= 0 || !buffer || size <= 0) {
        Trace("CSerialBrailleDisplay::GetCells failed");
        return false;
    }
    memcpy(buffer, m_cells, std::min(size, TextCellsInImage()));
    return true;
}

bool CSerialBrailleDisplay::ReadReceived(std::string& received)
{
    if (!IsConnected()) {
        Trace("CSerialBrailleDisplay::ProcessReceivedData -> Not connected to the COM port");
        return false;
    }
    if (FAILED(m_serial.ReadAvailable(received))) {
        Trace("CSerialBrailleDisplay::ProcessReceivedData -> Error while reading buffer");
        return false;
    }
    return true;
}

bool CSerialBrailleDisplay::ProcessReceivedData()
{
    std::string received;
    if (!ReadReceived(received))
        return false;
    for (char byte : received)
        ProcessReceivedByte(static_cast<BYTE>(byte));
    return true;
}

