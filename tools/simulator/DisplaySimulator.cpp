#include "DisplaySimulator.h"
#include "PortPairs.h"

#include <algorithm>
#include <chrono>

namespace {

const BYTE kStart = 0x1B;
const BYTE kInitRequestId = 0x00;
const BYTE kInitResponseId = 0x01;
const DWORD kWriteTimeoutMs = 2000;

LONGLONG Counter()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

DisplaySimulator::DisplaySimulator(int pair) : m_pair(pair)
{
    m_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hReading = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    Open();
}

DisplaySimulator::~DisplaySimulator()
{
    Close();
    if (m_vanished)
        portpairs::ReplugPair(m_pair);  // later tests expect every pair plugged
    CloseHandle(m_hStop);
    CloseHandle(m_hReading);
}

bool DisplaySimulator::IsOpen() const
{
    return m_hPort != INVALID_HANDLE_VALUE;
}

bool DisplaySimulator::Open()
{
    const std::string path = "\\\\.\\" + portpairs::DisplayPort(m_pair);
    m_hPort = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                          nullptr);
    if (m_hPort == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(m_hPort, &dcb)) {
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        SetCommState(m_hPort, &dcb);
    }
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(m_hPort, &timeouts);
    SetCommMask(m_hPort, EV_RXCHAR);
    PurgeComm(m_hPort, PURGE_RXCLEAR | PURGE_TXCLEAR);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_phase = WaitStart;
    }
    ResetEvent(m_hStop);
    m_reader = std::thread([this] { ReaderLoop(); });
    return true;
}

void DisplaySimulator::Close()
{
    if (m_reader.joinable()) {
        SetEvent(m_hStop);
        m_reader.join();
    }
    if (m_hPort != INVALID_HANDLE_VALUE) {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        CloseHandle(m_hPort);
        m_hPort = INVALID_HANDLE_VALUE;
    }
}

bool DisplaySimulator::Vanish()
{
    Close();
    m_vanished = true;
    return portpairs::UnplugPair(m_pair);
}

bool DisplaySimulator::Return()
{
    Close();
    const bool replugged = portpairs::ReplugPair(m_pair);
    m_vanished = false;
    return Open() && replugged;
}

void DisplaySimulator::SetInitResponse(BYTE ee, BYTE mm, BYTE nn, DWORD delayMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ee = ee;
    m_mm = mm;
    m_nn = nn;
    m_delayMs = delayMs;
}

void DisplaySimulator::SetReading(bool reading)
{
    if (reading)
        SetEvent(m_hReading);
    else
        ResetEvent(m_hReading);
}

void DisplaySimulator::SetSilent(bool silent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent = silent;
}

std::vector<DisplaySimulator::Frame> DisplaySimulator::Frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

size_t DisplaySimulator::FrameCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames.size();
}

bool DisplaySimulator::WaitForFrames(size_t count, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_frames.size() >= count; });
}

void DisplaySimulator::ClearFrames()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
}

size_t DisplaySimulator::InitRequestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_initRequests;
}

std::vector<BYTE> DisplaySimulator::ReceivedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

bool DisplaySimulator::WaitForBytes(size_t count, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_bytes.size() >= count; });
}

void DisplaySimulator::ClearReceivedBytes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bytes.clear();
}

bool DisplaySimulator::KeyDown(BYTE code)
{
    return SendFrame(0x05, {code});
}

bool DisplaySimulator::KeyUp(BYTE code)
{
    return SendFrame(0x06, {code});
}

bool DisplaySimulator::Press(std::initializer_list<BYTE> codes)
{
    bool sent = true;
    for (BYTE code : codes)
        sent = KeyDown(code) && sent;
    for (BYTE code : codes)
        sent = KeyUp(code) && sent;
    return sent;
}

bool DisplaySimulator::SendFrame(BYTE id, const std::vector<BYTE>& payload)
{
    std::vector<BYTE> frame{kStart, id, static_cast<BYTE>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return SendRaw(frame);
}

bool DisplaySimulator::SendRaw(const std::vector<BYTE>& bytes)
{
    std::lock_guard<std::mutex> lock(m_writeMutex);
    if (m_hPort == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(m_hPort, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, kWriteTimeoutMs) != WAIT_OBJECT_0)
            CancelIoEx(m_hPort, &overlapped);
        ok = TRUE;
    }
    ok = ok && GetOverlappedResult(m_hPort, &overlapped, &written, TRUE) && written == bytes.size();
    CloseHandle(overlapped.hEvent);
    return ok;
}

// Keeps one read outstanding. Where a read of an empty port returns at once
// with nothing (Windows, with these time-outs), it waits for "a character
// arrived" before reading again; where it goes pending until a byte comes
// (Wine), the pending read itself is the wait, which costs no polling.
void DisplaySimulator::ReaderLoop()
{
    OVERLAPPED read{}, commWait{};
    read.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    commWait.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BYTE block[512];
    DWORD eventMask = 0;
    OVERLAPPED* outstanding = nullptr;
    for (;;) {
        DWORD idleMs = 0;
        const bool reading = WaitForSingleObject(m_hReading, 0) == WAIT_OBJECT_0;
        if (!outstanding && reading)
            outstanding = StartIo(read, commWait, block, sizeof block, eventMask, idleMs);
        // Not reading, it waits for the order to read again.
        HANDLE handles[2] = {m_hStop, outstanding ? outstanding->hEvent : m_hReading};
        const bool waits = outstanding || !reading;
        const DWORD result = WaitForMultipleObjects(waits ? 2 : 1, handles, FALSE,
                                                    waits ? MillisecondsToNextResponse() : idleMs);
        if (result == WAIT_OBJECT_0)
            break;
        if (outstanding && result == WAIT_OBJECT_0 + 1) {
            DWORD got = 0;
            if (outstanding == &read && GetOverlappedResult(m_hPort, &read, &got, FALSE))
                Consume(block, got);
            outstanding = nullptr;
        }
        SendDueResponses();
    }
    if (outstanding) {
        DWORD ignored = 0;
        CancelIoEx(m_hPort, outstanding);
        GetOverlappedResult(m_hPort, outstanding, &ignored, TRUE);
    }
    CloseHandle(read.hEvent);
    CloseHandle(commWait.hEvent);
}

// Starts a read, or a wait for a character when the read found none; returns
// the operation left pending, if any.
OVERLAPPED* DisplaySimulator::StartIo(OVERLAPPED& read, OVERLAPPED& commWait, BYTE* block, DWORD size,
                                      DWORD& eventMask, DWORD& idleMs)
{
    ResetEvent(read.hEvent);
    if (!ReadFile(m_hPort, block, size, nullptr, &read)) {
        if (GetLastError() == ERROR_IO_PENDING)
            return &read;
        idleMs = 20;  // a pulled cable: do not spin
        return nullptr;
    }
    DWORD got = 0;
    GetOverlappedResult(m_hPort, &read, &got, FALSE);
    if (got > 0) {
        Consume(block, got);
        return nullptr;
    }
    ResetEvent(commWait.hEvent);
    if (WaitCommEvent(m_hPort, &eventMask, &commWait))
        return nullptr;
    if (GetLastError() == ERROR_IO_PENDING)
        return &commWait;
    idleMs = 20;
    return nullptr;
}

void DisplaySimulator::Consume(const BYTE* bytes, DWORD count)
{
    if (count == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bytes.insert(m_bytes.end(), bytes, bytes + count);
        for (DWORD i = 0; i < count; ++i)
            ParseByte(bytes[i]);
    }
    m_arrived.notify_all();
}

// The driver's frames are 1B id length payload; anything before a 1B is noise.
void DisplaySimulator::ParseByte(BYTE byte)
{
    switch (m_phase) {
    case WaitStart:
        if (byte == kStart)
            m_phase = WaitId;
        break;
    case WaitId:
        m_current = Frame{0, byte, {}, 0};
        m_phase = WaitLength;
        break;
    case WaitLength:
        m_expected = byte;
        m_phase = WaitPayload;
        if (m_expected == 0)
            CompleteFrame();
        break;
    case WaitPayload:
        m_current.payload.push_back(byte);
        if (m_current.payload.size() == m_expected)
            CompleteFrame();
        break;
    }
}

void DisplaySimulator::CompleteFrame()
{
    m_current.tick = GetTickCount();
    m_current.counter = Counter();
    if (m_current.id == kInitRequestId) {
        ++m_initRequests;
        if (!m_silent)
            m_dueResponses.push_back(GetTickCount() + m_delayMs);
    }
    m_frames.push_back(std::move(m_current));
    m_phase = WaitStart;
}

DWORD DisplaySimulator::MillisecondsToNextResponse()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_dueResponses.empty())
        return INFINITE;
    const LONG left = static_cast<LONG>(m_dueResponses.front() - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

void DisplaySimulator::SendDueResponses()
{
    for (;;) {
        std::vector<BYTE> answer;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_dueResponses.empty() || static_cast<LONG>(m_dueResponses.front() - GetTickCount()) > 0)
                return;
            m_dueResponses.pop_front();
            answer = {m_ee, m_mm, m_nn};
        }
        SendFrame(kInitResponseId, answer);
    }
}
