// The display end of a port pair, played by Windows code in the process:
// it answers init requests, records every frame the driver sends (with its
// arrival time) and sends key presses, raw bytes and noise back. Its frame
// parser is its own, independent of the driver's assembler.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

class DisplaySimulator {
public:
    // Opens portpairs::DisplayPort(pair) and starts reading.
    explicit DisplaySimulator(int pair);
    ~DisplaySimulator();
    DisplaySimulator(const DisplaySimulator&) = delete;
    DisplaySimulator& operator=(const DisplaySimulator&) = delete;

    bool IsOpen() const;
    int Pair() const { return m_pair; }

    // The answer to every init request 1B 00 00 (default 0, 0, 40, at once).
    void SetInitResponse(BYTE ee, BYTE mm, BYTE nn, DWORD delayMs = 0);
    // A silent display records init requests but answers none.
    void SetSilent(bool silent);
    // A display that stops reading its input (stuck, or a stalled hub): what
    // the driver writes backs up in the pair until it reads again. A read
    // already waiting takes one more block.
    void SetReading(bool reading);

    struct Frame {
        DWORD tick;        // GetTickCount when its last byte arrived
        BYTE id;
        std::vector<BYTE> payload;
        LONGLONG counter;  // QueryPerformanceCounter at the same moment
    };
    // Every frame received from the driver, in order.
    std::vector<Frame> Frames() const;
    size_t FrameCount() const;
    // True once at least count frames arrived (counting since the last ClearFrames).
    bool WaitForFrames(size_t count, DWORD timeoutMs) const;
    void ClearFrames();
    size_t InitRequestCount() const;

    // Raw bytes received, for byte-exact checks.
    std::vector<BYTE> ReceivedBytes() const;
    bool WaitForBytes(size_t count, DWORD timeoutMs) const;
    void ClearReceivedBytes();

    // Key frames: 1B 05 01 code and 1B 06 01 code.
    bool KeyDown(BYTE code);
    bool KeyUp(BYTE code);
    // All keys down in order, then all up in order.
    bool Press(std::initializer_list<BYTE> codes);
    bool SendFrame(BYTE id, const std::vector<BYTE>& payload);
    // Anything at all: noise, partial frames, several frames at once.
    bool SendRaw(const std::vector<BYTE>& bytes);

    // Pulls the cable (the whole pair goes away) / plugs it back and reopens;
    // false when the port manager or the reopening failed.
    bool Vanish();
    bool Return();

private:
    enum ParsePhase { WaitStart, WaitId, WaitLength, WaitPayload };

    bool Open();
    void Close();
    void ReaderLoop();
    OVERLAPPED* StartIo(OVERLAPPED& read, OVERLAPPED& commWait, BYTE* block, DWORD size, DWORD& eventMask,
                        DWORD& idleMs);
    void Consume(const BYTE* bytes, DWORD count);
    void ParseByte(BYTE byte);
    void CompleteFrame();
    void ScheduleInitResponse();
    void SendDueResponses();
    DWORD MillisecondsToNextResponse();

    const int m_pair;
    HANDLE m_hPort = INVALID_HANDLE_VALUE;
    HANDLE m_hStop = nullptr;
    HANDLE m_hReading = nullptr;  // manual-reset, set while the display reads
    bool m_vanished = false;
    std::thread m_reader;
    std::mutex m_writeMutex;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<Frame> m_frames;
    std::vector<BYTE> m_bytes;
    size_t m_initRequests = 0;
    BYTE m_ee = 0, m_mm = 0, m_nn = 40;
    DWORD m_delayMs = 0;
    bool m_silent = false;
    std::deque<DWORD> m_dueResponses;  // GetTickCount at which each answer is due

    // Parser state: only the reader thread touches it.
    ParsePhase m_phase = WaitStart;
    Frame m_current{};
    size_t m_expected = 0;
};
