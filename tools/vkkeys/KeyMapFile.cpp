#include "KeyMapFile.h"

#include "KeyMapTexts.h"
#include "TextUtil.h"
#include "ToolText.h"
#include "keys/CombinationKeys.h"

#include <cstdio>

namespace {

using Wide = std::u16string;

// The profile reader's blanks: ASCII white space, and ^Z (the old
// end-of-file mark); a no-break space is not one.
bool IsBlank(char16_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A;
}

Wide TrimBlanks(const Wide& s)
{
    size_t first = 0, last = s.size();
    while (first < last && IsBlank(s[first]))
        ++first;
    while (last > first && IsBlank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

// The platform compares names as C strings: a NUL ends them.
Wide UpToNul(const Wide& s)
{
    return s.substr(0, s.find(char16_t(0)));
}

// Names compare without regard to case; the letters a key map may hold.
char16_t Folded(char16_t c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 0x20);
    if (c >= 0x400 && c <= 0x40F)
        return static_cast<char16_t>(c + 0x50);
    // Latin Extended-A: capital and small letters in pairs.
    const bool evenCapital = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenCapital && c % 2 == 0) || (oddCapital && c % 2 == 1))
        return static_cast<char16_t>(c + 1);
    return c;
}

bool SameName(const Wide& a, const Wide& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Folded(a[i]) != Folded(b[i]))
            return false;
    return true;
}

// What the platform copies of a value: one pair of enclosing quotes goes,
// the rest is cut to the buffer (and a closing quote is lost with it).
Wide CopyEntry(Wide value, size_t bufferSize)
{
    const bool quoted = value.size() > 1 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0];
    if (quoted)
        value.erase(0, 1);
    Wide copied = value.substr(0, bufferSize - 1);
    if (quoted && bufferSize >= value.size() && !copied.empty())
        copied.pop_back();
    return copied;
}

Wide FromLatin1(const std::string& bytes)
{
    Wide text;
    for (char c : bytes)
        text += static_cast<char16_t>(static_cast<unsigned char>(c));
    return text;
}

std::string ToLatin1(const Wide& text)
{
    std::string bytes;
    for (char16_t c : text)
        bytes += c < 0x100 ? static_cast<char>(c) : '?';
    return bytes;
}

// UTF-8 as the platform decodes it, one U+FFFD for each byte it cannot use.
Wide FromUtf8(const std::string& bytes)
{
    Wide text;
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3 : 0;
        unsigned long code = length == 1 ? lead : length == 2 ? lead & 0x1F : lead & 0x0F;
        bool ok = length != 0 && i + length <= bytes.size();
        for (size_t k = 1; ok && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            ok = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        ok = ok && !(length == 3 && (code < 0x800 || (code >= 0xD800 && code < 0xE000)));
        text += ok ? static_cast<char16_t>(code) : char16_t(0xFFFD);
        i += ok ? length : 1;
    }
    return text;
}

Wide FromUtf16(const std::string& bytes, bool bigEndian)
{
    Wide text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        text += static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
    }
    return text;
}

// Lines as the platform ends them: at CR, LF or CR LF.
std::vector<Wide> SplitLines(const Wide& text)
{
    std::vector<Wide> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            lines.back() += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        lines.emplace_back();
    }
    return lines;
}

}  // namespace

const KeyMapFile::Codec KeyMapFile::kPortableCodec = {FromLatin1, FromUtf8, ToLatin1};

bool KeyMapFile::Parse(const std::string& bytes, std::string& problem, const Codec& codec)
{
    m_codec = codec;
    m_headers.clear();
    m_entries.clear();
    m_problems.clear();
    m_wideHeaders.clear();
    m_wideKeys.clear();
    m_wideValues.clear();
    Wide contents;
    if (!Decode(bytes, contents, problem))
        return false;
    Section current = NoSection;
    int number = 0;
    for (const Wide& line : SplitLines(contents))
        ParseLine(line, ++number, current);
    return true;
}

// By its byte order mark, as the platform tells: UTF-8, UTF-16 either way
// round, or else plain text in the system's code page.
bool KeyMapFile::Decode(const std::string& bytes, Wide& text, std::string& problem) const
{
    const bool little = bytes.compare(0, 2, "\xFF\xFE") == 0, big = bytes.compare(0, 2, "\xFE\xFF") == 0;
    if ((little || big) && bytes.size() % 2 != 0) {
        problem = tooltext::Text(IDS_FILE_UTF16_CUT);
        return false;
    }
    if (little || big)
        text = FromUtf16(bytes, big);
    else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text = m_codec.utf8ToWide(bytes.substr(3));
    else
        text = m_codec.ansiToWide(bytes);
    return true;
}

// "[name]" starts a section (up to the line's last "]"), ";" a comment line, anything else is an entry
// "key=value", with or without its "=".
void KeyMapFile::ParseLine(const Wide& raw, int number, Section& current)
{
    NoteControlCharacters(raw, number);
    const Wide line = TrimBlanks(raw);
    if (line.empty() || line[0] == ';')
        return;
    const size_t close = line.rfind(']');
    if (line[0] == '[' && close != Wide::npos)
        AddHeader(UpToNul(TrimBlanks(line.substr(1, close - 1))), number, current);
    else
        AddEntry(line, number, current);
}

void KeyMapFile::AddHeader(const Wide& wide, int number, Section& current)
{
    const std::string name = m_codec.wideToAnsi(wide);
    current = SectionNamed(name);
    int firstLine = number;
    for (const Header& earlier : m_headers)
        if (current != OtherSection && earlier.section == current && firstLine == number)
            firstLine = earlier.line;
    if (firstLine != number)
        current = Repeated;
    m_headers.push_back({number, name, current, firstLine});
    m_wideHeaders.push_back(wide);
}

void KeyMapFile::AddEntry(const Wide& line, int number, Section current)
{
    const size_t equals = line.find('=');
    const Wide key = UpToNul(TrimBlanks(line.substr(0, equals)));
    const Wide value = equals == Wide::npos ? Wide() : UpToNul(TrimBlanks(line.substr(equals + 1)));
    Entry entry{number, current, m_codec.wideToAnsi(key), "", equals != Wide::npos,
                static_cast<int>(m_headers.size()) - 1};
    entry.value = m_codec.wideToAnsi(CopyEntry(value, value.size() + 1));
    m_entries.push_back(entry);
    m_wideKeys.push_back(key);
    m_wideValues.push_back(value);
}

// The driver passes control characters on as they are, and reads a name or
// a value only up to a NUL: neither belongs in a key map.
void KeyMapFile::NoteControlCharacters(const Wide& line, int number)
{
    for (char16_t c : line) {
        if (c == 0) {
            m_problems.push_back({number, tooltext::Text(IDS_FILE_NUL_BYTE)});
            return;
        }
        if (c < 0x20 && c != '\t') {
            char code[8];
            snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(c));
            m_problems.push_back({number, tooltext::Text(IDS_FILE_CONTROL_CHARACTER, {code})});
            return;
        }
    }
}

int KeyMapFile::FirstHeaderNamed(const Wide& name) const
{
    for (size_t h = 0; h < m_wideHeaders.size(); ++h)
        if (SameName(m_wideHeaders[h], name))
            return static_cast<int>(h);
    return -1;
}

// The first section of that name, its first line of that key (one without
// "=" too: it hides a later one with a value). Lines before any section are
// in no section: Windows reads them under none (Wine under "").
std::string KeyMapFile::ValueOf(const std::string& section, const std::string& key, size_t bufferSize) const
{
    const int header = FirstHeaderNamed(UpToNul(TrimBlanks(m_codec.ansiToWide(section))));
    const Wide wanted = UpToNul(TrimBlanks(m_codec.ansiToWide(key)));
    for (size_t i = 0; header >= 0 && bufferSize > 0 && i < m_entries.size(); ++i) {
        if (m_entries[i].header != header || !SameName(m_wideKeys[i], wanted))
            continue;
        if (!m_entries[i].hasEquals)
            return "";
        return m_codec.wideToAnsi(CopyEntry(m_wideValues[i], bufferSize)).substr(0, bufferSize - 1);
    }
    return "";
}

KeyMapFile::Section KeyMapFile::SectionNamed(const std::string& name)
{
    for (Section s : {Modifiers, Typing, FunctionKeys})
        if (text::EqualNoCase(name, NameOf(s)))
            return s;
    return OtherSection;
}

const char* KeyMapFile::NameOf(Section section)
{
    switch (section) {
    case Modifiers: return CombinationKeys::kSectionModifiers;
    case Typing: return CombinationKeys::kSectionTyping;
    case FunctionKeys: return CombinationKeys::kSectionFunctionKeys;
    default: return "";
    }
}
