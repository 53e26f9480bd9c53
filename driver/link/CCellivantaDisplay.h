// The Cellivanta VK display: its wire protocol (frames 1B id length payload),
// the handshake, the cells frame, the key messages and the registry lookup of
// its USB virtual COM ports.
#pragma once

#include "CSerialBrailleDisplay.h"
#include "DisplayInput.h"

#include <string>
#include <vector>

class CCellivantaDisplay : public CSerialBrailleDisplay {
public:
    enum CaptureGroup {
        CaptureNone = KeyCapture::CaptureNone,
        CaptureD = KeyCapture::CaptureD,
        CaptureT = KeyCapture::CaptureT,
        CaptureC = KeyCapture::CaptureC
    };

    // Message ids on the wire.
    enum MessageId : BYTE {
        MsgInitRequest = 0x00,
        MsgInitResponse = DisplayInput::kMsgInitResponse,
        MsgBrailleCells = 0x02,
        MsgKeyDown = DisplayInput::kMsgKeyDown,
        MsgKeyUp = DisplayInput::kMsgKeyUp,
    };
    static constexpr BYTE FRAME_START = DisplayInput::kFrameStart;
    static constexpr int PAYLOAD_BUFFER_SIZE = FrameAssembler::kPayloadSize;

    CCellivantaDisplay();
    ~CCellivantaDisplay();

    bool SendInitRequest() override;
    void ProcessReceivedByte(BYTE byte) override;
    bool Refresh() override;
    // Before the port is let go of for a sleep: the display is left with a
    // whole blank frame last, whatever it had not read yet. False (with a
    // trace line) when the blank could not be queued.
    bool LeaveBlank();

    virtual bool GetUSBVirtualCOMPort(std::vector<std::string>& portNames);
    // The walk over the instance keys of an open device key.
    static bool CollectPortNames(HKEY usbKey, std::vector<std::string>& portNames);
    // Whether Windows reports a device instance present; a test may stand in.
    using DevicePresentFn = bool (*)(const char* instanceId);
    static DevicePresentFn s_isDevicePresent;
    virtual void ProcessDeviceMessage(int messageId, const BYTE* payload);
    virtual bool ProcessInitRespMsg(BYTE EE, BYTE MM, BYTE NN);
    bool TakeInitAnswer(BYTE EE, BYTE NN);
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

    static constexpr DWORD kQuietMsToResync = DisplayInput::kQuietMsToResync;

    // The handshake's own reading of the display's answer, apart from the
    // receive state above (which the thread that takes the keys owns): only
    // an init response is acted on here. Every other byte read is kept, in
    // order, for that thread to assemble afterwards, so that a key pressed
    // during the handshake still arrives.
    class HandshakeReader : private DisplayInput::Receiver {
    public:
        explicit HandshakeReader(CCellivantaDisplay& display);
        // Reads what the display sent since the last read; false when the
        // port cannot be read.
        bool Read();
        // What was read but the init responses.
        const std::string& Bytes() const { return m_bytes; }

    private:
        void OnFrame(int messageId, const uint8_t* payload) override;
        void OnKeyDown(uint8_t) override {}
        void OnKeyUp(uint8_t) override {}
        void OnCombination(const CombinationKeys&) override {}
        void OnCaptureRestart() override {}

        CCellivantaDisplay& m_display;
        FrameAssembler m_assembler;
        DisplayInput m_input;  // traces nothing: the keys' thread reads these bytes again
        std::string m_bytes;
        size_t m_frameStart = 0;  // where the frame being assembled starts in m_bytes
    };

protected:
    // Puts the frame assembler back to idle with an empty payload.
    static void ResetFrameAssembler();

    // One for the process, shared by every display object. Each new
    // connection (open or wake) starts it idle: a frame cut by a reconnection
    // is dropped, never completed by the bytes of the next session.
    static FrameAssembler s_assembler;

private:
    static constexpr size_t kFrameHeaderSize = 3;
    static constexpr size_t kMinCutFrameTail = 2;

    bool WriteFrame(const std::string& frame);
    void OweCutFrameTail();
    static bool AppendPortName(const char* instanceName, std::vector<std::string>& portNames);

    // Hands what the input reads to the display's own (virtual) handlers.
    class InputReceiver : public DisplayInput::Receiver {
    public:
        explicit InputReceiver(CCellivantaDisplay& display) : m_display(display) {}
        void OnFrame(int messageId, const uint8_t* payload) override;
        void OnKeyDown(uint8_t code) override;
        void OnKeyUp(uint8_t code) override;
        void OnCombination(const CombinationKeys& keys) override;
        void OnCaptureRestart() override;

    private:
        CCellivantaDisplay& m_display;
    };
    InputReceiver m_inputReceiver{*this};
    // The frame assembler, the watch over a quiet line and the key capture.
    DisplayInput m_input;

    // Zeros owed to the display before the next frame, after a write that
    // may have left part of a frame on the wire.
    size_t m_nCutFrameTail = 0;
    size_t m_nLongestPayload = 0;
    bool m_bFrameWritten = false;  // a purge of the output may cut one of ours
};
