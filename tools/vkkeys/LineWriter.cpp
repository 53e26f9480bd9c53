#include "LineWriter.h"

#include "ToolText.h"

namespace {

const char kIndent[] = "  ";

// Cells of UTF-8 text (a French message's accented letters take one each).
size_t Cells(const std::string& text)
{
    size_t cells = 0;
    for (char c : text)
        cells += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return cells;
}

// The byte where the cell after the first `cells` cells starts.
size_t ByteOfCell(const std::string& text, size_t cells)
{
    size_t i = 0;
    for (size_t seen = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == cells)
            break;
    return i;
}

// Where to cut text so that the first piece has at most room cells.
size_t CutPoint(const std::string& text, size_t room)
{
    const size_t end = ByteOfCell(text, room);
    for (size_t i = end; i > 0; --i)
        if (text[i] == ' ')
            return i;
    for (size_t i = end; i > 0; --i)
        if (text[i - 1] == '+')
            return i;
    return end;
}

}  // namespace

void LineWriter::Line(const std::string& line)
{
    std::string rest = line;
    std::string indent;
    while (m_width > indent.size() && indent.size() + Cells(rest) > m_width) {
        const size_t cut = CutPoint(rest, m_width - indent.size());
        tooltext::Line(m_out, indent + rest.substr(0, cut));
        rest = rest.substr(cut);
        rest.erase(0, rest.find_first_not_of(' '));
        indent = kIndent;
    }
    tooltext::Line(m_out, indent + rest);
}
