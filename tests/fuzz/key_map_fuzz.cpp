// The key map file as vkkeys reads it, from any bytes: its lines, sections
// and entries, the chords written left of "=", and the computer braille
// table that names what a dot chord types. The oracle checks what must
// always hold:
// - lines are numbered in order within the file (ended by CR, LF or CR LF),
//   entries are trimmed, a
//   repeated section points back at the header that counts;
// - the same ASCII text reads the same plain, with a UTF-8 mark and as UTF-16;
// - a chord that parses is named as the driver names it, and that name parses
//   back to the same keys; a chord that does not names the key it stumbled on;
// - every dot pattern the table turns into a character is that character's.
#include "ComputerBraille.h"
#include "KeyChord.h"
#include "KeyMapFile.h"
#include "TextUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "oracle: %s\n", what);
        abort();
    }
}

// Trimmed in front; at the end too, unless a NUL cut it short.
bool IsTrimmed(const std::string& s)
{
    return s.empty() || (s[0] != ' ' && s[0] != '\t');
}

// Lines end at CR, LF or CR LF.
int LineCount(const std::string& bytes)
{
    int lines = 1;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')))
            ++lines;
    return lines;
}

bool SameEntries(const KeyMapFile& a, const KeyMapFile& b)
{
    if (a.Entries().size() != b.Entries().size() || a.Headers().size() != b.Headers().size())
        return false;
    for (size_t i = 0; i < a.Entries().size(); ++i) {
        const KeyMapFile::Entry &x = a.Entries()[i], &y = b.Entries()[i];
        if (x.line != y.line || x.section != y.section || x.key != y.key || x.value != y.value ||
            x.hasEquals != y.hasEquals)
            return false;
    }
    for (size_t i = 0; i < a.Headers().size(); ++i) {
        const KeyMapFile::Header &x = a.Headers()[i], &y = b.Headers()[i];
        if (x.line != y.line || x.name != y.name || x.section != y.section || x.firstLine != y.firstLine)
            return false;
    }
    return true;
}

void CheckLines(const KeyMapFile& file, const std::string& bytes)
{
    const int lines = LineCount(bytes);
    int last = 0;
    for (const KeyMapFile::Header& h : file.Headers()) {
        Require(h.line > last && h.line <= lines, "headers out of line order");
        Require(h.firstLine <= h.line, "a section points forward");
        if (h.section == KeyMapFile::Repeated) {
            bool found = false;
            for (const KeyMapFile::Header& earlier : file.Headers())
                found = found || (earlier.line == h.firstLine && earlier.section != KeyMapFile::Repeated);
            Require(found, "a repeated section points at no header that counts");
        }
        last = h.line;
    }
    last = 0;
    for (const KeyMapFile::Entry& e : file.Entries()) {
        Require(e.line > last && e.line <= lines, "entries out of line order");
        Require(IsTrimmed(e.key), "an entry's key is not trimmed");
        Require(e.value.size() <= bytes.size(), "a value longer than the file");
        last = e.line;
    }
}

// The same text with a UTF-8 mark, and as UTF-16 with its mark.
void CheckEncodings(const KeyMapFile& plain, const std::string& bytes)
{
    for (unsigned char c : bytes)
        if (c >= 0x80)
            return;
    std::string utf16 = "\xFF\xFE";
    for (char c : bytes)
        utf16 += std::string{c, '\0'};
    for (const std::string& other : {"\xEF\xBB\xBF" + bytes, utf16}) {
        KeyMapFile file;
        std::string problem;
        Require(file.Parse(other, problem), "the same text refused in another encoding");
        Require(SameEntries(plain, file), "the same text read otherwise in another encoding");
    }
}

void CheckChord(const std::string& written)
{
    KeyChord chord;
    if (!chord.Parse(written)) {
        Require(written.find(chord.BadKey()) != std::string::npos, "the bad key named is not in the chord");
        return;
    }
    Require(chord.Name() == chord.Keys().Name(), "the chord is not named as the driver names it");
    KeyChord again;
    Require(again.Parse(chord.Name()) && again.Keys() == chord.Keys(), "a chord's name reads as other keys");
    const std::string braille = chord.Braille();
    const uint8_t dots = static_cast<uint8_t>(chord.Keys().m_dKeys & 0xFF);
    if (!braille.empty() && braille != "space")
        Require(ComputerBraille::CharToDots(braille[0]) == dots, "a dot chord shown as another character");
}

// The first bytes stand for dot patterns: each lookup walks the table.
void CheckTable(const std::string& bytes)
{
    for (unsigned char dots : bytes.substr(0, 8)) {
        const char c = ComputerBraille::DotsToChar(dots);
        Require(c == 0 || ComputerBraille::CharToDots(c) == dots, "the table names another character's dots");
    }
    const std::string cells = ComputerBraille::TextToCells(bytes);
    Require(cells.size() == bytes.size(), "one cell per character");
    Require(ComputerBraille::CellsToUnicode(cells).size() == 3 * cells.size(), "one braille character per cell");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckTable(bytes);
    KeyMapFile file;
    std::string problem;
    if (!file.Parse(bytes, problem)) {
        Require(!problem.empty() && file.Entries().empty(), "a refused file without a reason, or with entries");
        return 0;
    }
    CheckLines(file, bytes);
    CheckEncodings(file, bytes);
    for (const KeyMapFile::Entry& e : file.Entries())
        if (e.hasEquals)
            CheckChord(e.key);
    return 0;
}
