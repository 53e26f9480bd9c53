#include "CCellivantaDisplay.h"
#include "Trace.h"

#include <algorithm>
#include <cstring>

namespace {

const char kUsbDeviceKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c005";
const DWORD kKeyNameSize = 291;   // up to 290 characters and the terminator
const size_t kPathSize = 1490;
const DWORD kPortNameSize = 290;

}  // namespace

CCellivantaDisplay::FrameAssembler CCellivantaDisplay::s_assembler;

CCellivantaDisplay::CCellivantaDisplay()
{
    m_dwBaudRate = 115200;
    m_byParity = 0;
    m_byStopBits = 1;
    m_byByteSize = 8;
    m_nCellCount = 0;
    m_nStatusCellCount = 0;
}

CCellivantaDisplay::~CCellivantaDisplay() = default;

void CCellivantaDisplay::ResetFrameAssembler()
{
    s_assembler = FrameAssembler();
}

bool CCellivantaDisplay::SendInitRequest()
{
    static const char kInitRequest[] = {FRAME_START, MsgInitRequest, 0x00};
    const bool sent = WriteFrame(std::string(kInitRequest, sizeof kInitRequest));
    Trace("CCellivantaDisplay::SendInitRequest -> %d", sent ? 1 : 0);
    return sent;
}

bool CCellivantaDisplay::Refresh()
{
    if (IsConnected() && m_nCellCount != 0) {
        const int length = StatusCellsInImage() + TextCellsInImage();
        std::string frame{static_cast<char>(FRAME_START), static_cast<char>(MsgBrailleCells),
                          static_cast<char>(length & 0xFF)};
        frame.append(reinterpret_cast<const char*>(m_cells), length);
        if (WriteFrame(frame))
            return true;
    }
    Trace("CCellivantaDisplay::Refresh failed");
    return false;
}

// A write that failed or timed out may have put part of its frame on the
// wire, the display then waiting for the rest. Zeros first complete that
// frame (as blank cells, or as an empty one), and the display drops zeros
// between frames, so the next frame is read as a frame, not as that tail.
bool CCellivantaDisplay::WriteFrame(const std::string& frame)
{
    const std::string bytes = std::string(m_nCutFrameTail, '\0') + frame;
    if (SUCCEEDED(m_serial.Write(bytes.data(), static_cast<DWORD>(bytes.size())))) {
        m_nCutFrameTail = 0;
        return true;
    }
    // After the start byte alone, two zeros make an empty init request.
    const size_t payload = frame.size() > kFrameHeaderSize ? frame.size() - kFrameHeaderSize : 0;
    m_nCutFrameTail = std::max({m_nCutFrameTail, payload, kMinCutFrameTail});
    return false;
}

bool CCellivantaDisplay::IsKeyMessage(int id)
{
    return id == MsgKeyDown || id == MsgKeyUp;
}

bool CCellivantaDisplay::IsAcceptedMessageId(BYTE id)
{
    switch (id) {
    case 1: case 4: case 5: case 6: case 8: case 9: case 10: case 11:
        return true;
    default:
        return false;
    }
}

// The frame assembler: 1B, an accepted id, the length, then that many payload
// bytes. No checksum and no escaping, so a lost byte is only noticed by the
// frames that follow.
void CCellivantaDisplay::ProcessReceivedByte(BYTE byte)
{
    FrameAssembler& frame = s_assembler;
    m_bBytesSincePoll = true;
    switch (frame.phase) {
    case PhaseIdle:
        if (byte == FRAME_START)
            BeginFrame();
        else
            NoteStrayByte(byte);
        break;
    case PhaseStartSeen:
        if (IsAcceptedMessageId(byte)) {
            frame.messageId = byte;
            frame.phase = PhaseLength;
        } else {
            NoteLineFault();
        }
        break;
    case PhaseLength:
        if (IsKeyMessage(frame.messageId) && byte != 1) {
            // A damaged length byte: taken as it is, it would swallow the
            // frames after it as its payload.
            Trace("CCellivantaDisplay::ProcessReceivedByte -> a key frame of %u bytes cannot be, frame dropped", byte);
            frame.phase = PhaseIdle;
            m_bKeysInDoubt = true;
            ProcessReceivedByte(byte);
            break;
        }
        frame.length = byte;
        if (byte == 0)
            DispatchFrame();
        else
            frame.phase = PhasePayload;
        break;
    case PhasePayload:
        StorePayloadByte(byte);
        break;
    }
}

// Read once and checked before the store: whatever state the assembler was
// left in, no byte lands outside the payload buffer. A state that cannot be
// (a reset from another thread in the middle of a frame) drops that frame,
// and the byte starts afresh.
void CCellivantaDisplay::StorePayloadByte(BYTE byte)
{
    const int position = s_assembler.writePos;
    const int length = s_assembler.length;
    if (position < 0 || position >= length || position >= PAYLOAD_BUFFER_SIZE) {
        Trace("CCellivantaDisplay::ProcessReceivedByte -> frame state broken (%d of %d bytes), frame dropped",
              position, length);
        ResetFrameAssembler();
        m_bKeysInDoubt = true;
        ProcessReceivedByte(byte);
        return;
    }
    s_assembler.payload[position] = byte;
    s_assembler.writePos = position + 1;
    if (position + 1 == length)
        DispatchFrame();
}

// The display sends nothing but whole frames: a dropped byte is line noise.
// Noise alone says nothing about the keys the user holds.
void CCellivantaDisplay::NoteLineFault()
{
    Trace("CCellivantaDisplay::ProcessReceivedByte -> byte outside a frame, line noise");
}

// A run of bytes outside a frame that begins with a key message id is a key
// frame that lost its start: its key-up may be lost, so the held keys are in
// doubt. A lost start of any other message changes nothing.
void CCellivantaDisplay::NoteStrayByte(BYTE byte)
{
    if (!m_bInStrayRun) {
        NoteLineFault();
        if (byte == MsgKeyDown || byte == MsgKeyUp)
            m_bKeysInDoubt = true;
    }
    m_bInStrayRun = true;
}

// Time is taken from the forwards, in the order the bytes were posted, so a
// screen reader slow to pump its messages does not make a whole frame look
// cut short. At the line's speed a frame takes milliseconds; a quiet line
// for several tenths of a second means the rest of it is lost.
void CCellivantaDisplay::ProcessPollEnd(DWORD dwForwardedAt)
{
    if (m_bBytesSincePoll) {
        m_bBytesSincePoll = false;
        m_dwLastBytesAt = dwForwardedAt;
        m_bQuietHandled = false;
        return;
    }
    if (m_bQuietHandled || dwForwardedAt - m_dwLastBytesAt < kQuietMsToResync)
        return;
    m_bQuietHandled = true;
    m_bInStrayRun = false;
    if (s_assembler.phase != PhaseIdle) {
        Trace("CCellivantaDisplay::ProcessPollEnd -> frame %d cut short after %d bytes, abandoned",
              s_assembler.messageId, s_assembler.writePos);
        s_assembler.phase = PhaseIdle;
        m_bKeysInDoubt = true;
    }
    if (m_bKeysInDoubt) {
        // A damaged frame may have left keys down whose key-up never comes.
        Trace("CCellivantaDisplay::ProcessPollEnd -> after a damaged frame, key capture starts afresh");
        m_bKeysInDoubt = false;
        ResetKeyCapture();
    }
}

void CCellivantaDisplay::ResetReceiveState()
{
    Trace("CCellivantaDisplay::ResetReceiveState");
    ResetFrameAssembler();
    m_bBytesSincePoll = false;
    m_dwLastBytesAt = GetTickCount();
    m_bQuietHandled = false;
    m_bKeysInDoubt = false;
    m_bInStrayRun = false;
    ResetHeldKeys();  // a waiting typing modifier is kept for the next key
}

// Cleared at every start so that bytes a short payload lacks read as 0.
void CCellivantaDisplay::BeginFrame()
{
    m_bInStrayRun = false;
    memset(s_assembler.payload, 0, sizeof s_assembler.payload);
    s_assembler.writePos = 0;
    s_assembler.phase = PhaseStartSeen;
}

void CCellivantaDisplay::DispatchFrame()
{
    s_assembler.phase = PhaseIdle;
    const bool keyFrame = s_assembler.messageId == MsgKeyDown || s_assembler.messageId == MsgKeyUp;
    if (keyFrame && (s_assembler.length != 1 || !IsKeyCode(s_assembler.payload[0]))) {
        Trace("CCellivantaDisplay::DispatchFrame -> a key frame that cannot be true");
        m_bKeysInDoubt = true;
    }
    ProcessDeviceMessage(s_assembler.messageId, s_assembler.payload);
}

void CCellivantaDisplay::ProcessDeviceMessage(int messageId, const BYTE* payload)
{
    switch (messageId) {
    case MsgInitResponse:
        ProcessInitRespMsg(payload[0], payload[1], payload[2]);
        break;
    case MsgKeyDown:
        ProcessKeyDownMsg(payload[0]);
        break;
    case MsgKeyUp:
        ProcessKeyUpMsg(payload[0]);
        break;
    default:
        break;  // accepted and ignored
    }
}

// EE: 0 success, 1 refusal, anything else an invalid answer. Only the
// handshake's answer counts (see LockDisplayInfos). A display that
// reports more cells than the image holds is shown on the first 128.
bool CCellivantaDisplay::ProcessInitRespMsg(BYTE EE, BYTE MM, BYTE NN)
{
    if (m_bDisplayInfosLocked) {
        Trace("CCellivantaDisplay::ProcessInitRespMsg: EE = %X, NN = %u outside the handshake, ignored", EE, NN);
        return false;
    }
    if (EE == 0) {
        m_nMM = MM;
        m_nStatusCellCount = 0;
        m_nCellCount = NN;
        if (m_nCellCount > MAX_CELLS) {
            Trace("CCellivantaDisplay::ProcessInitRespMsg: NN = %d exceeds the cell image, using %d cells", NN,
                  MAX_CELLS);
            m_nCellCount = MAX_CELLS;
        }
        return true;
    }
    if (EE != 1)
        Trace("CCellivantaDisplay::ProcessInitRespMsg: Invalid EE value  EE = %X", EE);
    m_nStatusCellCount = 0;
    m_nCellCount = 0;
    m_nMM = 0;
    return false;
}

bool CCellivantaDisplay::GetUSBVirtualCOMPort(std::vector<std::string>& portNames)
{
    HKEY usbKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUsbDeviceKey, 0, KEY_READ | KEY_WOW64_64KEY, &usbKey) != ERROR_SUCCESS) {
        Trace("CCellivantaDisplay::GetUSBVirtualCOMPort -> no USB device key");
        return false;
    }
    const bool found = CollectPortNames(usbKey, portNames);
    RegCloseKey(usbKey);
    Trace("CCellivantaDisplay::GetUSBVirtualCOMPort -> %d", found ? 1 : 0);
    return found;
}

// Only a name too long for the buffer is skipped; any other error (the key
// deleted while it is walked, say) ends the walk, or it would never end.
bool CCellivantaDisplay::CollectPortNames(HKEY usbKey, std::vector<std::string>& portNames)
{
    bool found = false;
    for (DWORD index = 0;; ++index) {
        char instanceName[kKeyNameSize] = {};
        DWORD nameSize = kKeyNameSize;
        const LONG result = RegEnumKeyExA(usbKey, index, instanceName, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        if (AppendPortName(instanceName, portNames))
            found = true;
    }
    return found;
}

// Every instance with a port name counts, present or not.
bool CCellivantaDisplay::AppendPortName(const char* instanceName, std::vector<std::string>& portNames)
{
    std::string path = kUsbDeviceKey;
    if (path.back() != '\\')
        path += '\\';
    path += instanceName;
    path += "\\Device Parameters";
    if (path.size() >= kPathSize)
        return false;
    HKEY parameters = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &parameters) != ERROR_SUCCESS)
        return false;
    char portName[kPortNameSize] = {};
    DWORD size = kPortNameSize;
    const bool read = RegQueryValueExA(parameters, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(portName),
                                       &size) == ERROR_SUCCESS;
    RegCloseKey(parameters);
    if (read)
        portNames.emplace_back(portName, strnlen(portName, std::min<DWORD>(size, kPortNameSize)));
    return read;
}
