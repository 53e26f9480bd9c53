// The received bytes on their way from the braille thread to the hidden
// window's thread. The braille thread puts in what the display sent; the
// window's thread takes out, in order, as many as it was told of. Bytes
// stay here until the window takes them: a post that failed loses none.
#pragma once

#include <mutex>
#include <string>

class CReceiveHandOff {
public:
    // Bytes kept while no window lives to take them: about 1.4 s of a line
    // sending flat out at 115200 baud, minutes of typing. While one lives,
    // its thread may be busy for a while: over a minute of such a line.
    // Beyond the bound the oldest go, up to a frame start.
    static constexpr size_t kMaxWaitingWithoutWindow = 16 * 1024;
    static constexpr size_t kMaxWaiting = 1024 * 1024;

    CReceiveHandOff() = default;
    CReceiveHandOff(const CReceiveHandOff&) = delete;
    CReceiveHandOff& operator=(const CReceiveHandOff&) = delete;

    // The braille thread's side: appends, keeping the bound given.
    void Put(const std::string& bytes, size_t bound);
    size_t Waiting();
    // The window's side: moves out the first count bytes (fewer when fewer
    // wait); true when bytes were dropped since the last take, so that
    // whatever the frames and held keys were, they are no longer known.
    bool Take(size_t count, std::string& out);
    // Bytes of a connection that ended.
    void Clear();

private:
    void DropOldest(size_t bound);

    std::mutex m_lock;
    std::string m_bytes;
    bool m_bDropped = false;
};
