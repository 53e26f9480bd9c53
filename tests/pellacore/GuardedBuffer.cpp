#include "GuardedBuffer.h"

#include <algorithm>
#include <cstring>

GuardedBuffer::GuardedBuffer(int nSize, const char* szInitial)
    : m_nSize(nSize), m_bytes(std::max(nSize, 0) + 2 * kGuard, '\xA5')
{
    std::fill_n(Data(), std::max(nSize, 0), '#');
    std::size_t cbInitial = std::strlen(szInitial) + 1;
    if (cbInitial <= static_cast<std::size_t>(std::max(nSize, 0)))
        std::memcpy(Data(), szInitial, cbInitial);
    m_initial = m_bytes;
}

std::string GuardedBuffer::Text() const
{
    const char* p = m_bytes.data() + kGuard;
    return std::string(p, std::find(p, p + std::max(m_nSize, 0), '\0'));
}

bool GuardedBuffer::Terminated() const
{
    const char* p = m_bytes.data() + kGuard;
    return std::find(p, p + std::max(m_nSize, 0), '\0') != p + std::max(m_nSize, 0);
}

bool GuardedBuffer::GuardsIntact() const
{
    auto intact = [](const char* p) { return std::all_of(p, p + kGuard, [](char c) { return c == '\xA5'; }); };
    return intact(m_bytes.data()) && intact(m_bytes.data() + m_bytes.size() - kGuard);
}
