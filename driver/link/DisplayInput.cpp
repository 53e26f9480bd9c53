#include "DisplayInput.h"

#include <cstring>

DisplayInput::DisplayInput(FrameAssembler& assembler, Receiver& receiver, TraceFunction trace)
    : m_assembler(assembler), m_receiver(receiver), m_trace(trace)
{
}

void DisplayInput::ReceiveByte(uint8_t byte)
{
    m_bBytesSincePoll = true;
    if (!Assemble(byte))
        Assemble(byte);  // the frame was dropped: the byte may start the next one
}

bool DisplayInput::IsAcceptedMessageId(uint8_t id)
{
    switch (id) {
    case 1: case 4: case 5: case 6: case 8: case 9: case 10: case 11:
        return true;
    default:
        return false;
    }
}

// 1B, an accepted id, the length, then that many payload bytes. No checksum
// and no escaping, so a lost byte is only noticed by the frames that follow.
// False when the frame was dropped at this byte and the byte is to be read
// again, from idle.
bool DisplayInput::Assemble(uint8_t byte)
{
    FrameAssembler& frame = m_assembler;
    switch (frame.phase) {
    case FrameAssembler::PhaseIdle:
        if (byte == kFrameStart)
            BeginFrame();
        else
            NoteStrayByte(byte);
        return true;
    case FrameAssembler::PhaseStartSeen:
        if (IsAcceptedMessageId(byte)) {
            frame.messageId = byte;
            frame.phase = FrameAssembler::PhaseLength;
        } else {
            NoteLostId();
        }
        return true;
    case FrameAssembler::PhaseLength:
        return TakeLength(byte);
    default:
        return StorePayloadByte(byte);
    }
}

// A key frame carries one key code. Any other length is a damaged length
// byte: taken as it is, it would swallow the frames after it as its payload.
bool DisplayInput::TakeLength(uint8_t byte)
{
    if (IsKeyMessage(m_assembler.messageId) && byte != 1) {
        TraceLine("DisplayInput::ReceiveByte -> a key frame of %u bytes cannot be, frame dropped", byte);
        m_bKeysInDoubt = true;
        m_assembler.phase = FrameAssembler::PhaseIdle;
        return false;
    }
    m_assembler.length = byte;
    if (byte == 0)
        DispatchFrame();
    else
        m_assembler.phase = FrameAssembler::PhasePayload;
    return true;
}

// Read once and checked before the store: whatever state the assembler was
// left in, no byte lands outside the payload buffer. A state that cannot be
// (a reset from another thread in the middle of a frame) drops that frame.
bool DisplayInput::StorePayloadByte(uint8_t byte)
{
    const int position = m_assembler.writePos;
    const int length = m_assembler.length;
    if (position < 0 || position >= length || position >= FrameAssembler::kPayloadSize) {
        TraceLine("DisplayInput::ReceiveByte -> frame state broken (%d of %d bytes), frame dropped", position,
                  length);
        ResetAssembler();
        m_bKeysInDoubt = true;
        return false;
    }
    m_assembler.payload[position] = byte;
    m_assembler.writePos = position + 1;
    if (position + 1 == length)
        DispatchFrame();
    return true;
}

// The display sends nothing but whole frames: a dropped byte is line noise.
// Noise alone says nothing about the keys the user holds.
void DisplayInput::NoteLineFault()
{
    TraceLine("DisplayInput::ReceiveByte -> byte outside a frame, line noise");
}

// A start byte followed by no message id: the frame lost bytes (its id, or
// all but its start), and it may have been a key frame.
void DisplayInput::NoteLostId()
{
    NoteLineFault();
    m_bKeysInDoubt = true;
}

// A run of bytes outside a frame that begins with a key message id is a key
// frame that lost its start: its key-up may be lost, so the held keys are in
// doubt. A lost start of any other message changes nothing.
void DisplayInput::NoteStrayByte(uint8_t byte)
{
    if (!m_bInStrayRun) {
        NoteLineFault();
        if (IsKeyMessage(byte))
            m_bKeysInDoubt = true;
    }
    m_bInStrayRun = true;
}

// Time is taken from the forwards, in the order the bytes were posted, so a
// screen reader slow to pump its messages does not make a whole frame look
// cut short.
void DisplayInput::PollEnd(uint32_t forwardedAt)
{
    if (m_bBytesSincePoll) {
        m_bBytesSincePoll = false;
        m_dwLastBytesAt = forwardedAt;
        m_bQuietHandled = false;
        return;
    }
    if (m_bQuietHandled || forwardedAt - m_dwLastBytesAt < kQuietMsToResync)
        return;
    m_bQuietHandled = true;
    m_bInStrayRun = false;
    if (m_assembler.phase != FrameAssembler::PhaseIdle) {
        TraceLine("DisplayInput::PollEnd -> frame %d cut short after %d bytes, abandoned", m_assembler.messageId,
                  m_assembler.writePos);
        m_assembler.phase = FrameAssembler::PhaseIdle;
        m_bKeysInDoubt = true;
    }
    if (m_bKeysInDoubt) {
        // A damaged frame may have left keys down whose key-up never comes.
        TraceLine("DisplayInput::PollEnd -> after a damaged frame, key capture starts afresh");
        m_bKeysInDoubt = false;
        m_capture.ReleaseAll();
        m_receiver.OnCaptureRestart();
    }
}

void DisplayInput::Restart(uint32_t now)
{
    ResetAssembler();
    m_bBytesSincePoll = false;
    m_dwLastBytesAt = now;
    m_bQuietHandled = false;
    m_bKeysInDoubt = false;
    m_bInStrayRun = false;
    m_capture.ReleaseAll();
}

void DisplayInput::ResetAssembler()
{
    m_assembler = FrameAssembler();
}

// Cleared at every start so that bytes a short payload lacks read as 0.
void DisplayInput::BeginFrame()
{
    m_bInStrayRun = false;
    memset(m_assembler.payload, 0, sizeof m_assembler.payload);
    m_assembler.writePos = 0;
    m_assembler.phase = FrameAssembler::PhaseStartSeen;
}

void DisplayInput::DispatchFrame()
{
    m_assembler.phase = FrameAssembler::PhaseIdle;
    if (IsKeyMessage(m_assembler.messageId) && !KeyCapture::IsKeyCode(m_assembler.payload[0])) {
        TraceLine("DisplayInput::ReceiveByte -> a key frame that cannot be true");
        m_bKeysInDoubt = true;
    }
    m_receiver.OnFrame(m_assembler.messageId, m_assembler.payload);
}

void DisplayInput::Dispatch(int messageId, const uint8_t* payload)
{
    if (messageId == kMsgKeyDown)
        m_receiver.OnKeyDown(payload[0]);
    else if (messageId == kMsgKeyUp)
        m_receiver.OnKeyUp(payload[0]);
}

void DisplayInput::KeyDown(uint8_t code)
{
    if (m_capture.KeyDown(code))
        FinishCombination();
}

void DisplayInput::KeyUp(uint8_t code)
{
    if (m_capture.KeyUp(code))
        FinishCombination();
}

void DisplayInput::FinishCombination()
{
    m_receiver.OnCombination(m_capture.Combination());
    m_capture.NextCombination();
}
