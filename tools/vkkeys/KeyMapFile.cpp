#include "KeyMapFile.h"

#include "TextUtil.h"
#include "keys/CombinationKeys.h"

namespace {

// The platform reads UTF-16 files with a byte order mark too; the names
// and values of a key map are ASCII, so the low bytes are the text.
bool FromUtf16(const std::string& bytes, std::string& text)
{
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        if (bytes[i + 1] != 0)
            return false;
        text += bytes[i];
    }
    return true;
}

}  // namespace

bool KeyMapFile::Parse(const std::string& bytes, std::string& problem)
{
    m_headers.clear();
    m_entries.clear();
    std::string contents;
    if (!Decode(bytes, contents, problem))
        return false;
    Section current = NoSection;
    int number = 0;
    for (const std::string& line : text::Split(contents, '\n'))
        ParseLine(line, ++number, current);
    return true;
}

bool KeyMapFile::Decode(const std::string& bytes, std::string& text, std::string& problem)
{
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (FromUtf16(bytes, text))
            return true;
        problem = "is UTF-16 text with characters other than ASCII; save it as plain text";
        return false;
    }
    text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == 0 || (u < 0x20 && c != '\t' && c != '\r' && c != '\n' && c != '\f')) {
            problem = "is not a text file; a key map is plain text of name=value lines";
            return false;
        }
    }
    return true;
}

// Lines as the platform's profile reader takes them: "[name]" starts a
// section, ";" a comment line, anything else is an entry "key=value".
void KeyMapFile::ParseLine(const std::string& raw, int number, Section& current)
{
    const std::string line = text::Trim(raw);
    if (line.empty() || line[0] == ';')
        return;
    if (line[0] == '[' && line.find(']') != std::string::npos) {
        const std::string name = text::Trim(line.substr(1, line.find(']') - 1));
        current = SectionNamed(name);
        int firstLine = number;
        for (const Header& earlier : m_headers)
            if (current != OtherSection && earlier.section == current && firstLine == number)
                firstLine = earlier.line;
        if (firstLine != number)
            current = Repeated;
        m_headers.push_back({number, name, current, firstLine});
        return;
    }
    Entry entry{number, current, line, "", false, static_cast<int>(m_headers.size()) - 1};
    const size_t equals = line.find('=');
    if (equals != std::string::npos) {
        entry.hasEquals = true;
        entry.key = text::Trim(line.substr(0, equals));
        entry.value = text::Trim(line.substr(equals + 1));
        const size_t n = entry.value.size();
        if (n >= 2 && (entry.value[0] == '"' || entry.value[0] == '\'') && entry.value[n - 1] == entry.value[0])
            entry.value = entry.value.substr(1, n - 2);
    }
    m_entries.push_back(entry);
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

std::string KeyMapFile::ValueOf(const std::string& section, const std::string& key, size_t bufferSize) const
{
    int first = -1;
    for (size_t h = 0; h < m_headers.size() && first < 0; ++h)
        if (text::EqualNoCase(m_headers[h].name, text::Trim(section)))
            first = static_cast<int>(h);
    for (const Entry& entry : m_entries)
        if (first >= 0 && entry.header == first && text::EqualNoCase(entry.key, text::Trim(key)))
            return entry.value.substr(0, bufferSize - 1);
    return "";
}
