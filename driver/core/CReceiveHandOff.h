// The received bytes on their way from the braille thread to the hidden
// window's thread. The braille thread puts in what the display sent and says
// when a connection begins; the window's thread takes out, in order, as many
// as it was told of, and learns before which bytes it starts its frames and
// held keys afresh. Bytes stay here until the window takes them: a post that
// failed loses none. One notice at most is on its way to the window: the
// braille thread marks it posted, the window's take that ends it clears the
// mark, and bytes put after that get a notice of their own.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

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
    // The bytes put from now on are of a new connection: the window starts
    // afresh before the first of them. Those of the old one still waiting
    // are taken first, or dropped.
    void NewConnection(bool dropWaiting);
    size_t Waiting() const;
    // Marks a notice posted (true) or its post refused (false); a notice is
    // posted only while none is on its way.
    bool NoticePosted() const;
    void MarkNoticePosted(bool posted);
    // The window's side: moves out the first count bytes (fewer when fewer
    // wait), never more than one connection's; true when the window starts
    // afresh before them (a new connection, or bytes dropped since the last
    // take: whatever the frames and held keys were, they are no longer known).
    // The take that ends the notice's bytes clears its mark.
    bool Take(size_t count, std::string& out);

private:
    void DropOldest(size_t bound);
    void Consume(size_t count);

    mutable std::mutex m_lock;
    std::string m_bytes;
    // Where in m_bytes a new connection's bytes begin (ascending, never 0).
    std::vector<size_t> m_connectionStarts;
    bool m_bFresh = false;  // the window starts afresh before the next byte
    bool m_bNoticePosted = false;
};
