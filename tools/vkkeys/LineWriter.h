// Prints lines of plain text, each cut into pieces that fit the width when
// one is given (a braille display shows one line of 40 cells, say).
#pragma once

#include <cstdio>
#include <string>

class LineWriter {
public:
    LineWriter(FILE* out, size_t width) : m_out(out), m_width(width) {}

    // Wraps at spaces (or, in a run without spaces, after a "+"); the
    // pieces after the first are indented by two spaces.
    void Line(const std::string& line);

private:
    FILE* m_out;
    size_t m_width;  // 0: no limit
};
