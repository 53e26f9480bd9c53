// The Cellivanta VK display: its wire protocol (frames 1B id length payload),
// the handshake, the cells frame, the key messages and the registry lookup of
// its USB virtual COM ports.
#pragma once

#include "CSerialBrailleDisplay.h"

#include <string>
#include <vector>

class CCellivantaDisplay : public CSerialBrailleDisplay {
public:
    enum CaptureGroup { CaptureNone = 0, CaptureD = 5, CaptureT = 6, CaptureC = 7 };

    // Message ids on the wire.
    enum MessageId : BYTE {
        MsgInitRequest = 0x00,
        MsgInitResponse = 0x01,
        MsgBrailleCells = 0x02,
        MsgKeyDown = 0x05,
        MsgKeyUp = 0x06,
    };
    static constexpr BYTE FRAME_START = 0x1B;
    static constexpr int PAYLOAD_BUFFER_SIZE = 500;

    CCellivantaDisplay();
    ~CCellivantaDisplay();

    bool SendInitRequest() override;
    void ProcessReceivedByte(BYTE byte) override;
    bool Refresh() override;

    /* 14 */ virtual bool GetUSBVirtualCOMPort(std::vector<std::string>& portNames);
    /* 15 */ virtual void ProcessDeviceMessage(int messageId, const BYTE* payload);
    /* 16 */ virtual bool ProcessInitRespMsg(BYTE EE, BYTE MM, BYTE NN);
    /* 17 */ virtual bool ProcessKeyDownMsg(BYTE keyCode);
    /* 18 */ virtual bool ProcessKeyUpMsg(BYTE keyCode);
    /* 19 */ virtual void EnqueueKeyCombination();

protected:
    // Puts the frame assembler back to idle with an empty payload (for tests;
    // the driver never abandons a partly received frame).
    static void ResetFrameAssembler();

    int m_nMM = 0;
    // Key capture state (see driver/keys).
    BYTE m_keyPressed[256] = {};
    BYTE m_keyInCombination[256] = {};
    int m_captureGroup = CaptureNone;

private:
    enum AssemblerPhase { PhaseIdle = 0, PhaseStartSeen = 1, PhaseLength = 2, PhasePayload = 3 };

    // One set for the process: a frame cut by a reconnection is completed by
    // the bytes that follow it.
    struct FrameAssembler {
        int phase = PhaseIdle;
        int messageId = 0;
        int length = 0;
        BYTE payload[PAYLOAD_BUFFER_SIZE] = {};
        int writePos = 0;
    };
    static FrameAssembler s_assembler;

    static bool IsAcceptedMessageId(BYTE id);
    void BeginFrame();
    void DispatchFrame();
    static bool AppendPortName(const char* instanceName, std::vector<std::string>& portNames);
};
