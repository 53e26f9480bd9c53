#include "CCellivantaDisplay.h"
#include "Trace.h"

#include <cfgmgr32.h>

#include <algorithm>
#include <cstring>

namespace {

const char kEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\";
const char kUsbDeviceKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c005";
// The device's instance IDs begin with its key's path below the Enum key.
const char* const kUsbDeviceId = kUsbDeviceKey + sizeof kEnumKey - 1;
const DWORD kKeyNameSize = 291;   // up to 290 characters and the terminator
const size_t kPathSize = 1490;
const DWORD kPortNameSize = 290;

bool IsDevicePresentDefault(const char* instanceId)
{
    DEVINST node = 0;
    return CM_Locate_DevNodeA(&node, const_cast<char*>(instanceId), CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS;
}

}  // namespace

FrameAssembler CCellivantaDisplay::s_assembler;
CCellivantaDisplay::DevicePresentFn CCellivantaDisplay::s_isDevicePresent = IsDevicePresentDefault;

CCellivantaDisplay::CCellivantaDisplay() : m_input(s_assembler, m_inputReceiver, &Trace)
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

void CCellivantaDisplay::ProcessReceivedByte(BYTE byte)
{
    m_input.ReceiveByte(byte);
}

void CCellivantaDisplay::ProcessPollEnd(DWORD dwForwardedAt)
{
    m_input.PollEnd(dwForwardedAt);
}

void CCellivantaDisplay::ResetReceiveState()
{
    Trace("CCellivantaDisplay::ResetReceiveState");
    m_input.Restart(GetTickCount());  // a waiting typing modifier is kept for the next key
}

CCellivantaDisplay::HandshakeReader::HandshakeReader(CCellivantaDisplay& display)
    : m_display(display), m_input(m_assembler, *this)
{
}

bool CCellivantaDisplay::HandshakeReader::Read()
{
    std::string received;
    if (!m_display.ReadReceived(received))
        return false;
    for (char byte : received) {
        m_bytes += byte;
        m_input.ReceiveByte(static_cast<uint8_t>(byte));
        if (m_input.Assembler().phase == FrameAssembler::PhaseStartSeen)
            m_frameStart = m_bytes.size() - 1;
    }
    return true;
}

void CCellivantaDisplay::HandshakeReader::OnFrame(int messageId, const uint8_t* payload)
{
    if (messageId != MsgInitResponse)
        return;
    m_display.LockDisplayInfos();
    m_display.TakeInitAnswer(payload[0], payload[2]);
    m_bytes.resize(m_frameStart);  // the answer is the handshake's alone
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
// wire, the display then waiting for the rest, and a purge of the output
// may cut any frame still on its way. Zeros first complete such a frame (as
// blank cells, or as an empty one), and the display drops zeros between
// frames, so the next frame is read as a frame, not as that tail.
bool CCellivantaDisplay::WriteFrame(const std::string& frame)
{
    m_nLongestPayload = std::max(m_nLongestPayload, frame.size() - std::min(frame.size(), kFrameHeaderSize));
    if (m_serial.TakeOutputPurged() && m_bFrameWritten)
        OweCutFrameTail();
    m_bFrameWritten = true;
    const std::string bytes = std::string(m_nCutFrameTail, '\0') + frame;
    if (SUCCEEDED(m_serial.Write(bytes.data(), static_cast<DWORD>(bytes.size())))) {
        m_nCutFrameTail = 0;
        return true;
    }
    OweCutFrameTail();
    return false;
}

// Enough for the longest frame written (after the start byte alone, two
// zeros make an empty init request).
void CCellivantaDisplay::OweCutFrameTail()
{
    m_nCutFrameTail = std::max({m_nCutFrameTail, m_nLongestPayload, kMinCutFrameTail});
}

// What the display has not taken is dropped (it may be a long queue of
// lines behind a display that stopped reading), the frame the drop may
// have cut is completed with zeros, then the blank frame is queued: whenever
// the display reads again, the last whole frame it gets is blank.
bool CCellivantaDisplay::LeaveBlank()
{
    if (!IsConnected() || m_nCellCount == 0)
        return false;
    m_serial.PurgeOutput();
    ForgetLastCells();
    if (DisplayBraille(nullptr, 0))
        return true;
    Trace("CCellivantaDisplay::LeaveBlank -> the blank frame could not be queued; the display may keep its text");
    return false;
}

void CCellivantaDisplay::ProcessDeviceMessage(int messageId, const BYTE* payload)
{
    if (messageId == MsgInitResponse)
        ProcessInitRespMsg(payload[0], payload[1], payload[2]);
    else
        m_input.Dispatch(messageId, payload);  // keys come back to their handlers; the rest is ignored
}

// Only the handshake's answer counts (see LockDisplayInfos).
bool CCellivantaDisplay::ProcessInitRespMsg(BYTE EE, BYTE /*MM: nothing depends on it*/, BYTE NN)
{
    if (m_bDisplayInfosLocked) {
        Trace("CCellivantaDisplay::ProcessInitRespMsg: EE = %X, NN = %u outside the handshake, ignored", EE, NN);
        return false;
    }
    return TakeInitAnswer(EE, NN);
}

// EE: 0 success, 1 refusal, anything else an invalid answer. A display that
// reports more cells than the image holds is shown on the first 128.
bool CCellivantaDisplay::TakeInitAnswer(BYTE EE, BYTE NN)
{
    if (EE == 0) {
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
// Instances Windows no longer reports present (a display once plugged into
// another USB socket) come last: their COM number may now be another
// device's, which would hold up the search for the display that is there.
bool CCellivantaDisplay::CollectPortNames(HKEY usbKey, std::vector<std::string>& portNames)
{
    std::vector<std::string> absent;
    bool found = false;
    for (DWORD index = 0;; ++index) {
        char instanceName[kKeyNameSize] = {};
        DWORD nameSize = kKeyNameSize;
        const LONG result = RegEnumKeyExA(usbKey, index, instanceName, &nameSize, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        const bool present = s_isDevicePresent((std::string(kUsbDeviceId) + '\\' + instanceName).c_str());
        if (!present)
            Trace("CCellivantaDisplay::GetUSBVirtualCOMPort -> instance %s is not present, tried last", instanceName);
        if (AppendPortName(instanceName, present ? portNames : absent))
            found = true;
    }
    portNames.insert(portNames.end(), absent.begin(), absent.end());
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
