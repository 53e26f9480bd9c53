#include "CReceiveHandOff.h"
#include "Trace.h"

#include <algorithm>

namespace {

const char kFrameStart = 0x1B;

}  // namespace

void CReceiveHandOff::Put(const std::string& bytes, size_t bound)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bytes.append(bytes);
    if (m_bytes.size() > bound)
        DropOldest(bound);
}

// The newest bytes are kept, from the first frame start among them: the
// user's latest keys matter, a frame cut in half does not.
void CReceiveHandOff::DropOldest(size_t bound)
{
    size_t cut = m_bytes.size() - bound;
    const size_t start = m_bytes.find(kFrameStart, cut);
    cut = start == std::string::npos ? m_bytes.size() : start;
    Consume(cut);
    m_bFresh = true;
    Trace("CReceiveHandOff::Put : received bytes the hidden window did not take, %lu oldest dropped, %lu newest kept",
          static_cast<unsigned long>(cut), static_cast<unsigned long>(m_bytes.size()));
}

// The first count bytes go, and with them the connection starts they pass.
void CReceiveHandOff::Consume(size_t count)
{
    m_bytes.erase(0, count);
    auto passed = std::upper_bound(m_connectionStarts.begin(), m_connectionStarts.end(), count);
    const bool reachedStart = passed != m_connectionStarts.begin();
    m_connectionStarts.erase(m_connectionStarts.begin(), passed);
    for (size_t& start : m_connectionStarts)
        start -= count;
    if (reachedStart)
        m_bFresh = true;
}

void CReceiveHandOff::NewConnection(bool dropWaiting)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (dropWaiting) {
        m_bytes.clear();
        m_connectionStarts.clear();
    }
    if (m_bytes.empty())
        m_bFresh = true;
    else if (m_connectionStarts.empty() || m_connectionStarts.back() != m_bytes.size())
        m_connectionStarts.push_back(m_bytes.size());
}

size_t CReceiveHandOff::Waiting() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bytes.size();
}

bool CReceiveHandOff::NoticePosted() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bNoticePosted;
}

void CReceiveHandOff::MarkNoticePosted(bool posted)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bNoticePosted = posted;
}

bool CReceiveHandOff::Take(size_t count, std::string& out)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const size_t asked = std::min(count, m_bytes.size());
    const size_t taken = m_connectionStarts.empty() ? asked : std::min(asked, m_connectionStarts.front());
    if (taken == asked)
        m_bNoticePosted = false;  // first: a take that fails leaves the bytes to the next notice
    out.assign(m_bytes, 0, taken);  // first: a copy that fails changes nothing
    const bool fresh = m_bFresh;
    m_bFresh = false;
    Consume(taken);
    return fresh;
}
