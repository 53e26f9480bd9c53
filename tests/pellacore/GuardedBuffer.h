// A caller's text buffer with guard bytes on both sides, to see that a call
// writes nothing outside the capacity it was given, or nothing at all.
#pragma once

#include <string>
#include <vector>

class GuardedBuffer {
public:
    // nSize bytes starting with szInitial (and its terminator), the rest filled.
    explicit GuardedBuffer(int nSize, const char* szInitial = "untouched");

    char* Data() { return m_bytes.data() + kGuard; }
    int Size() const { return m_nSize; }

    // The text up to the first terminator within the capacity.
    std::string Text() const;
    bool Terminated() const;
    bool GuardsIntact() const;
    // Every byte, inside and around, as it was filled.
    bool Unchanged() const { return m_bytes == m_initial; }

private:
    static const int kGuard = 32;
    int m_nSize;
    std::vector<char> m_bytes;
    std::vector<char> m_initial;
};
