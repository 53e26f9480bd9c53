// Base class of a braille display on a COM port: the transport, the line
// settings, the geometry, the 128-cell image and the queue of captured key
// combinations. The device protocol comes from the derived class.
#pragma once

#include "CSerialCommHelper.h"
#include "CKeyCombination.h"
#include "PortClaim.h"

#include <windows.h>
#include <deque>
#include <memory>
#include <string>

class CSerialBrailleDisplay {
public:
    static constexpr int MAX_CELLS = 128;

    CSerialBrailleDisplay();
    CSerialBrailleDisplay(const CSerialBrailleDisplay&) = delete;
    CSerialBrailleDisplay& operator=(const CSerialBrailleDisplay&) = delete;

    /*  0 */ virtual bool ConnectTo(const char* portName);
    /*  1 */ virtual bool Disconnect();
    /*  2 */ virtual bool IsConnected();
    /*  3 */ virtual bool SendInitRequest() = 0;
    /*  4 */ virtual bool GetDisplayInfos(int& nTextCells, int& nStatusCells);
    /*  5 */ virtual bool DisplayBraille(const BYTE* cells, int count);
    /*  6 */ virtual bool GetCells(BYTE* buffer, int size);
    /*  7 */ virtual bool HasKeyCombination();
    /*  8 */ virtual bool TranslateKeyCombinationForJaws(const char* szIniFileName, char* szKeyComb,
                                                          int& nKeyCombLen, int& nRoutingIndex,
                                                          WORD& woBrailleDots);
    virtual bool ProcessReceivedData();
    // Moves what the transport received into received, for the caller to hand on.
    bool ReadReceived(std::string& received);
    virtual void ProcessReceivedByte(BYTE byte) = 0;
    // Signalled when received bytes wait to be handed on (see the transport).
    HANDLE ReceivedDataEvent() const { return m_serial.GetDataReadEvent(); }
    // The port failed under a connection: the display is most likely gone.
    bool IsLinkLost() const { return m_serial.IsLinkLost(); }
    // Asks the port now; false when the link is lost.
    bool CheckLink() { return m_serial.CheckPort(); }
    // Set by the owner before connecting: a busy port is retried only until it is set.
    void SetAbortEvent(HANDLE hAbort) { m_serial.SetAbortEvent(hAbort); }
    virtual bool Refresh() = 0;

    // Forgets the geometry, so that only a fresh answer to the init request
    // can report a display (a handshake must not succeed on an earlier answer).
    void ForgetDisplayInfos()
    {
        m_nCellCount = 0;
        m_nStatusCellCount = 0;
    }
    // From the first handshake on, only a handshake's own reading of its
    // answer changes the geometry. An init response among the keys' bytes
    // (another thread's) is line noise; taken as an answer it would blank the
    // display or change its width. Written once, before any such thread reads it.
    void LockDisplayInfos()
    {
        if (!m_bDisplayInfosLocked)
            m_bDisplayInfosLocked = true;
    }
    // Combinations finished before a sleep or a close are not the user's
    // next command; a new session also drops a typing modifier still waiting.
    void ForgetKeyCombinations();
    static void ForgetPendingModifier();
    // After a new handshake what the display shows is unknown (it may have
    // been replugged or switched off and on): the next line is sent even if
    // it equals the last one sent.
    void ForgetLastCells() { m_bLastCellsShown = false; }

protected:
    ~CSerialBrailleDisplay();

    // The geometry bounded by the 128-cell image: whatever a display reports,
    // no copy reaches past the image.
    int StatusCellsInImage() const;
    int TextCellsInImage() const;

    CSerialCommHelper m_serial;
    DWORD m_dwBaudRate = 0;
    BYTE m_byParity = 0;
    BYTE m_byStopBits = 0;
    BYTE m_byByteSize = 0;
    int m_nCellCount = 0;
    int m_nStatusCellCount = 0;
    bool m_bDisplayInfosLocked = false;  // set by the first handshake's answer
    BYTE m_cells[MAX_CELLS] = {};
    BYTE m_lastCells[MAX_CELLS] = {};
    // m_lastCells is what the display shows: false after a send that failed
    // and after a new handshake, so that the next line is sent whatever it holds.
    bool m_bLastCellsShown = true;
    // Captured combinations, oldest first; the queue owns them until translated.
    std::deque<std::unique_ptr<CKeyCombination>> m_keyCombinationQueue;

private:
    PortClaim m_claim;  // held while connected
};
