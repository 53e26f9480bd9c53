#include "LineWriter.h"

#include "ToolText.h"

namespace {

const char kIndent[] = "  ";

// Where to cut text so that the first piece has at most room characters.
size_t CutPoint(const std::string& text, size_t room)
{
    for (size_t i = room; i > 0; --i)
        if (text[i] == ' ')
            return i;
    for (size_t i = room; i > 0; --i)
        if (text[i - 1] == '+')
            return i;
    return room;
}

}  // namespace

void LineWriter::Line(const std::string& line)
{
    std::string rest = line;
    std::string indent;
    while (m_width > indent.size() && indent.size() + rest.size() > m_width) {
        const size_t cut = CutPoint(rest, m_width - indent.size());
        tooltext::Line(m_out, indent + rest.substr(0, cut));
        rest = rest.substr(cut);
        rest.erase(0, rest.find_first_not_of(' '));
        indent = kIndent;
    }
    tooltext::Line(m_out, indent + rest);
}
