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

    virtual bool GetUSBVirtualCOMPort(std::vector<std::string>& portNames);
    // The walk over the instance keys of an open device key.
    static bool CollectPortNames(HKEY usbKey, std::vector<std::string>& portNames);
    virtual void ProcessDeviceMessage(int messageId, const BYTE* payload);
    virtual bool ProcessInitRespMsg(BYTE EE, BYTE MM, BYTE NN);
    virtual bool ProcessKeyDownMsg(BYTE keyCode);
    virtual bool ProcessKeyUpMsg(BYTE keyCode);
    virtual void EnqueueKeyCombination();

    // Called after the bytes of each forward (the hidden window does so for
    // every WM_PROCESS_KEY_QUEUE), with the tick count at which the forward
    // was made. Once the line has been quiet for kQuietMsToResync, a frame
    // left unfinished is abandoned and, if a key frame was damaged since,
    // the key capture starts afresh.
    void ProcessPollEnd(DWORD dwForwardedAt);
    // A new connection: its port was purged, so no earlier frame can be
    // completed and no key-up of an earlier key can come. A typing modifier
    // waiting for its key is kept.
    void ResetReceiveState();

    static constexpr DWORD kQuietMsToResync = 300;

protected:
    // Puts the frame assembler back to idle with an empty payload.
    static void ResetFrameAssembler();

    enum AssemblerPhase { PhaseIdle = 0, PhaseStartSeen = 1, PhaseLength = 2, PhasePayload = 3 };

    // One set for the process, shared by every display object. Each new
    // connection (open or wake) starts it idle: a frame cut by a reconnection
    // is dropped, never completed by the bytes of the next session.
    struct FrameAssembler {
        int phase = PhaseIdle;
        int messageId = 0;
        int length = 0;
        BYTE payload[PAYLOAD_BUFFER_SIZE] = {};
        int writePos = 0;
    };
    static FrameAssembler s_assembler;

    int m_nMM = 0;
    // Key capture state (see driver/keys).
    BYTE m_keyPressed[256] = {};
    BYTE m_keyInCombination[256] = {};
    int m_captureGroup = CaptureNone;

    // Forgets held keys and the combination in progress.
    void ResetHeldKeys();
    // The same, and a waiting typing modifier too.
    void ResetKeyCapture();
    // A code of one of the display's keys.
    static bool IsKeyCode(BYTE code);

private:
    static constexpr size_t kFrameHeaderSize = 3;
    static constexpr size_t kMinCutFrameTail = 2;

    bool WriteFrame(const std::string& frame);
    static bool IsAcceptedMessageId(BYTE id);
    static bool IsKeyMessage(int id);
    void StorePayloadByte(BYTE byte);
    void NoteLineFault();
    void NoteStrayByte(BYTE byte);
    void BeginFrame();
    void DispatchFrame();
    static bool AppendPortName(const char* instanceName, std::vector<std::string>& portNames);

    // Line watch: bytes since the last forward's end, when the last forward
    // with bytes was made, whether the quiet line was already acted on,
    // whether bytes outside a frame are being dropped, and whether a key
    // frame was damaged (cut short, or impossible) since the last resync.
    bool m_bBytesSincePoll = false;
    DWORD m_dwLastBytesAt = 0;
    bool m_bQuietHandled = false;
    bool m_bInStrayRun = false;
    bool m_bKeysInDoubt = false;
    // Zeros owed to the display before the next frame, after a write that
    // may have left part of a frame on the wire.
    size_t m_nCutFrameTail = 0;
};
