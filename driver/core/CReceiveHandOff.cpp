#include "CReceiveHandOff.h"
#include "Trace.h"

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
    m_bytes.erase(0, cut);
    m_bDropped = true;
    Trace("CReceiveHandOff::Put : received bytes the hidden window did not take, %lu oldest dropped, %lu newest kept",
          static_cast<unsigned long>(cut), static_cast<unsigned long>(m_bytes.size()));
}

size_t CReceiveHandOff::Waiting()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_bytes.size();
}

bool CReceiveHandOff::Take(size_t count, std::string& out)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const size_t taken = count < m_bytes.size() ? count : m_bytes.size();
    out.assign(m_bytes, 0, taken);
    m_bytes.erase(0, taken);
    const bool dropped = m_bDropped;
    m_bDropped = false;
    return dropped;
}

void CReceiveHandOff::Clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_bytes.clear();
    m_bDropped = false;
}
