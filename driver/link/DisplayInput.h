// Everything the display sends, read: bytes in; frames, key presses and
// releases and finished key combinations out, to a receiver. It holds the
// frame assembler, the watch over a quiet line and the key capture. No
// platform types and no clock (the time is passed in): the driver's display
// class calls it, and it is fuzzed natively under sanitizers.
#pragma once

#include "CombinationKeys.h"
#include "KeyCapture.h"

#include <cstdint>

// The assembler's state, apart from the rest: the driver keeps one for the
// whole process.
struct FrameAssembler {
    enum Phase { PhaseIdle = 0, PhaseStartSeen = 1, PhaseLength = 2, PhasePayload = 3 };
    static constexpr int kPayloadSize = 500;

    int phase = PhaseIdle;
    int messageId = 0;
    int length = 0;
    uint8_t payload[kPayloadSize] = {};
    int writePos = 0;
};

class DisplayInput {
public:
    // What the input hands on, in the order the bytes came.
    class Receiver {
    public:
        // Every assembled frame; its payload buffer holds kPayloadSize bytes.
        virtual void OnFrame(int messageId, const uint8_t* payload) = 0;
        // The key frames, as Dispatch hands them on.
        virtual void OnKeyDown(uint8_t code) = 0;
        virtual void OnKeyUp(uint8_t code) = 0;
        // A finished combination; Capture().Combination() holds it too.
        virtual void OnCombination(const CombinationKeys& keys) = 0;
        // After a damaged key frame and a quiet line, the capture started
        // afresh: nothing the user held before counts any more.
        virtual void OnCaptureRestart() = 0;

    protected:
        ~Receiver() = default;
    };
    using TraceFunction = void (*)(const char* format, ...);

    static constexpr uint8_t kFrameStart = 0x1B;
    static constexpr int kMsgInitResponse = 0x01, kMsgKeyDown = 0x05, kMsgKeyUp = 0x06;
    // At the line's speed a frame takes milliseconds; a line quiet for this
    // long has lost the rest of any frame it left unfinished.
    static constexpr uint32_t kQuietMsToResync = 300;

    DisplayInput(FrameAssembler& assembler, Receiver& receiver, TraceFunction trace = nullptr);

    // The frame assembler, one byte at a time in arrival order.
    void ReceiveByte(uint8_t byte);
    // After the bytes of each forward, with the time (ms) it was made at.
    void PollEnd(uint32_t forwardedAt);
    // A new connection, at time now: no earlier frame or key-up can follow.
    void Restart(uint32_t now);
    // Hands a key frame on as a key press or release; other frames are not keys.
    void Dispatch(int messageId, const uint8_t* payload);

    // The key capture.
    void KeyDown(uint8_t code);
    void KeyUp(uint8_t code);
    void ForgetHeldKeys() { m_capture.ReleaseAll(); }

    const FrameAssembler& Assembler() const { return m_assembler; }
    const KeyCapture& Capture() const { return m_capture; }

private:
    bool Assemble(uint8_t byte);
    bool TakeLength(uint8_t byte);
    bool StorePayloadByte(uint8_t byte);
    void BeginFrame();
    void DispatchFrame();
    void NoteLineFault();
    void NoteLostId();
    void NoteStrayByte(uint8_t byte);
    void FinishCombination();
    void ResetAssembler();
    static bool IsAcceptedMessageId(uint8_t id);
    static bool IsKeyMessage(int id) { return id == kMsgKeyDown || id == kMsgKeyUp; }
    template <typename... Args>
    void TraceLine(const char* format, Args... args)
    {
        if (m_trace)
            m_trace(format, args...);
    }

    FrameAssembler& m_assembler;
    Receiver& m_receiver;
    TraceFunction m_trace;
    KeyCapture m_capture;

    // Line watch: bytes since the last forward's end, when the last forward
    // with bytes was made, whether the quiet line was already acted on,
    // whether bytes outside a frame are being dropped, and whether a key
    // frame was damaged (cut short, or impossible) since the last resync.
    bool m_bBytesSincePoll = false;
    uint32_t m_dwLastBytesAt = 0;
    bool m_bQuietHandled = false;
    bool m_bInStrayRun = false;
    bool m_bKeysInDoubt = false;
};
