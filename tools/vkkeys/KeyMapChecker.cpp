#include "KeyMapChecker.h"

#include "ComputerBraille.h"
#include "KeyMapTexts.h"
#include "ToolText.h"
#include "TextUtil.h"
#include "keys/CCellivantaKeyCombination.h"

#include <algorithm>
#include <cctype>

namespace {

using Section = KeyMapFile::Section;
using tooltext::Text;

const char* const kModifierNames[] = {"Control", "Alt", "Shift", "Insert", "Windows"};
const int kFunctionKeyCount = 24;

// The keys of a standard keyboard as the shipped key map spells them.
const std::vector<std::string>& KeyboardKeyNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all = {"UpArrow", "DownArrow", "LeftArrow", "RightArrow", "Home",  "End",
                                        "PageUp",  "PageDown",  "Enter",     "Escape",     "Tab",   "Backspace",
                                        "Delete",  "Insert",    "Space",     "Control",    "Alt",   "Shift",
                                        "Windows"};
        for (char c = 'a'; c <= 'z'; ++c)
            all.push_back(std::string(1, c));
        for (char c = '0'; c <= '9'; ++c)
            all.push_back(std::string(1, c));
        for (int n = 1; n <= kFunctionKeyCount; ++n)
            all.push_back("F" + std::to_string(n));
        return all;
    }();
    return names;
}

bool IsKnown(const std::string& name, const std::vector<std::string>& names)
{
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return text::EqualNoCase(n, name); });
}

// The known name closest to a misspelt one, if it is close enough.
std::string Nearest(const std::string& name, const std::vector<std::string>& names)
{
    std::string best;
    size_t bestDistance = std::max<size_t>(2, name.size() / 3) + 1;
    for (const std::string& n : names) {
        const size_t d = text::Distance(name, n);
        if (d < bestDistance)
            best = n, bestDistance = d;
    }
    return best;
}

// Where a comment seems to start after a value: ";" or "#" or "//" after a
// blank. The platform keeps all of it as part of the value.
size_t CommentStart(const std::string& value)
{
    for (size_t i = 1; i < value.size(); ++i) {
        if (value[i - 1] != ' ' && value[i - 1] != '\t')
            continue;
        if (value[i] == ';' || value[i] == '#' || value.compare(i, 2, "//") == 0)
            return i;
    }
    return std::string::npos;
}

// The letter or digit that a chord of dots types in computer braille, alone
// or with dot 7 or dot 8 ("b", "A", "1 with dot 8"); empty when none.
std::string LetterOrDigit(uint32_t dKeys)
{
    const uint32_t extra = dKeys & 0xC0;
    if ((dKeys & ~0xFFu) != 0 || (dKeys & 0x3F) == 0 || extra == 0xC0)
        return "";
    const char plain = ComputerBraille::DotsToChar(static_cast<uint8_t>(dKeys & 0x3F));
    if (!isalnum(static_cast<unsigned char>(plain)))
        return "";
    const unsigned kind = isdigit(static_cast<unsigned char>(plain)) ? IDS_THE_DIGIT : IDS_THE_LETTER;
    const char whole = ComputerBraille::DotsToChar(static_cast<uint8_t>(dKeys));
    if (isalnum(static_cast<unsigned char>(whole)) || extra == 0)
        return Text(kind, {std::string(1, isalnum(static_cast<unsigned char>(whole)) ? whole : plain)});
    return Text(IDS_WITH_DOT, {Text(kind, {std::string(1, plain)}), extra == 0x40 ? "7" : "8"});
}

}  // namespace

std::vector<KeyMapChecker::Finding> KeyMapChecker::Check(const std::string& path)
{
    m_findings.clear();
    m_chords.clear();
    m_seen.clear();
    m_hasFunctionModifier = false;
    m_entryCount = 0;
    KeyMapFile file;
    std::string problem;
    if (!file.Load(path, problem)) {
        Add(0, true, problem);
        return m_findings;
    }
    m_entryCount = file.Entries().size();
    for (const KeyMapFile::LineProblem& p : file.LineProblems())
        Add(p.line, true, p.text);
    CheckHeaders(file);
    for (const KeyMapFile::Entry& entry : file.Entries()) {
        KeyChord chord;
        if (!CheckChord(entry, chord) || IsRepeated(entry, chord))
            continue;
        m_seen.push_back({entry.line, entry.section, chord.Name(), chord.Braille(), chord.Keys().m_dKeys,
                          chord.Keys().m_tKeys, chord.Keys().m_cKeys, chord.Keys().m_routingKey});
        CheckValue(path, entry, chord);
    }
    CheckAcrossSections(file);
    std::stable_sort(m_findings.begin(), m_findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return m_findings;
}

void KeyMapChecker::Add(int line, bool error, const std::string& text)
{
    m_findings.push_back({line, error, text});
}

void KeyMapChecker::CheckHeaders(const KeyMapFile& file)
{
    std::vector<std::string> read;
    for (Section s : {KeyMapFile::Modifiers, KeyMapFile::Typing, KeyMapFile::FunctionKeys})
        read.push_back(KeyMapFile::NameOf(s));
    for (const KeyMapFile::Header& header : file.Headers()) {
        if (header.section == KeyMapFile::Repeated)
            Add(header.line, true, Text(IDS_SECTION_REPEATED, {header.name, std::to_string(header.firstLine)}));
        if (header.section != KeyMapFile::OtherSection)
            continue;
        const std::string nearest = Nearest(header.name, read);
        Add(header.line, true,
            nearest.empty() ? Text(IDS_SECTION_NEVER_READ, {header.name})
                            : Text(IDS_SECTION_NEVER_READ_NEAREST, {header.name, nearest}));
    }
}

// The chord left of "=": it must name keys the driver knows, in the order
// in which the driver names them.
bool KeyMapChecker::CheckChord(const KeyMapFile::Entry& entry, KeyChord& chord)
{
    const int line = entry.line;
    if (!entry.key.empty() && entry.key[0] == '[') {
        Add(line, true, Text(IDS_SECTION_UNCLOSED, {entry.key}));
        return false;
    }
    if (entry.section == KeyMapFile::OtherSection || entry.section == KeyMapFile::Repeated)
        return false;  // told once, at the section's header
    if (entry.section == KeyMapFile::NoSection) {
        Add(line, true, Text(IDS_ENTRY_BEFORE_SECTION));
        return false;
    }
    if (!entry.hasEquals) {
        Add(line, true, Text(IDS_ENTRY_NO_EQUALS, {entry.key}));
        return false;
    }
    if (entry.key.empty()) {
        Add(line, true, Text(IDS_ENTRY_EMPTY_CHORD));
        return false;
    }
    if (!chord.Parse(entry.key)) {
        Add(line, true,
            chord.BadKey().empty() ? Text(IDS_ENTRY_EMPTY_KEY, {entry.key})
                                   : Text(IDS_ENTRY_UNKNOWN_KEY, {chord.BadKey(), entry.key}));
        return false;
    }
    if (!text::EqualNoCase(entry.key, chord.Name())) {
        Add(line, true, Text(IDS_ENTRY_NEVER_LOOKED_UP, {entry.key, chord.Name()}));
        return false;
    }
    return true;
}

// Only the first entry of a chord in a section is ever read.
bool KeyMapChecker::IsRepeated(const KeyMapFile::Entry& entry, const KeyChord& chord)
{
    for (const Chord& seen : m_seen)
        if (seen.section == entry.section && seen.name == chord.Name()) {
            Add(entry.line, true, Text(IDS_ENTRY_REPEATED, {chord.Name(), std::to_string(seen.line)}));
            return true;
        }
    return false;
}

void KeyMapChecker::CheckValue(const std::string& path, const KeyMapFile::Entry& entry, const KeyChord& chord)
{
    const int line = entry.line;
    if (entry.value.empty()) {
        Add(line, true, Text(IDS_VALUE_EMPTY, {chord.Name()}));
        return;
    }
    // What the driver gets for this chord, through its own lookup; it acts on
    // that, mistakes and all, so list shows it.
    std::string read;
    CCellivantaKeyCombination reader;
    reader.ReadKeyMapValue(path.c_str(), KeyMapFile::NameOf(entry.section), chord.Name().c_str(), read);
    if (!read.empty())
        m_chords.push_back(m_seen.back());
    const size_t limit = CKeyCombination::kKeyMapValueSize - 1;
    if (entry.value.size() > limit) {
        Add(line, true, Text(IDS_VALUE_TOO_LONG, {std::to_string(entry.value.size()), std::to_string(limit)}));
        return;
    }
    if (read != entry.value) {
        Add(line, false, Text(IDS_VALUE_READ_AS, {read}));
        return;
    }
    const size_t comment = CommentStart(read);
    if (comment != std::string::npos) {
        Add(line, true, Text(IDS_VALUE_COMMENT, {read.substr(comment)}));
        return;
    }
    if (CheckShadowing(entry, chord))
        return;
    switch (entry.section) {
    case KeyMapFile::Modifiers: CheckModifierValue(line, read); break;
    case KeyMapFile::Typing: CheckTypingValue(line, read); break;
    default: CheckFunctionKeyValue(line, read); break;
    }
}

// The driver hands key names on as written, spaces included.
bool KeyMapChecker::CheckSpacing(int line, const std::string& value)
{
    for (const std::string& part : text::Split(value, '+'))
        if (part != text::Trim(part)) {
            std::string joined;
            for (const std::string& p : text::Split(value, '+'))
                joined += (joined.empty() ? "" : "+") + text::Trim(p);
            Add(line, false, Text(IDS_VALUE_SPACES, {joined}));
            return false;
        }
    return true;
}

// A modifier is a "+"-joined list of the keyboard's modifiers; "Function"
// (written exactly so, as the driver looks for it) comes last, since the
// driver replaces everything from it on with the function key.
void KeyMapChecker::CheckModifierValue(int line, const std::string& value)
{
    CheckSpacing(line, value);
    const std::string function = CKeyCombination::kFunctionModifier;
    const std::vector<std::string> parts = text::Split(value, '+');
    std::vector<std::string> names(std::begin(kModifierNames), std::end(kModifierNames));
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string part = text::Trim(parts[i]);
        if (part == function && i + 1 < parts.size()) {
            Add(line, true, Text(IDS_FUNCTION_NOT_LAST));
        } else if (part == function) {
            m_hasFunctionModifier = true;
        } else if (text::EqualNoCase(part, function)) {
            Add(line, true, Text(IDS_FUNCTION_CAPITAL));
        } else if (!IsKnown(part, names)) {
            Add(line, true, Text(IDS_NOT_A_MODIFIER, {part}));
        }
    }
}

// The screen reader may know more key names than these: a warning only.
void KeyMapChecker::CheckTypingValue(int line, const std::string& value)
{
    CheckSpacing(line, value);
    for (const std::string& raw : text::Split(value, '+')) {
        const std::string part = text::Trim(raw);
        if (IsKnown(part, KeyboardKeyNames()))
            continue;
        const std::string nearest = Nearest(part, KeyboardKeyNames());
        Add(line, false,
            nearest.empty() ? Text(IDS_UNKNOWN_KEY_NAME, {part}) : Text(IDS_UNKNOWN_KEY_NAME_NEAREST, {part, nearest}));
    }
}

void KeyMapChecker::CheckFunctionKeyValue(int line, const std::string& value)
{
    // Written as the F key's own number: "05" would give F05.
    int number = 0;
    for (int n = 1; n <= kFunctionKeyCount; ++n)
        if (value == std::to_string(n))
            number = n;
    if (number == 0)
        Add(line, true, Text(IDS_NOT_AN_F_KEY, {value}));
}

// A dot chord listed in [Typing] or [Typing Modifiers] no longer types its
// character; [Function Keys] is read only after a "Function" modifier.
bool KeyMapChecker::CheckShadowing(const KeyMapFile::Entry& entry, const KeyChord& chord)
{
    if (entry.section == KeyMapFile::FunctionKeys || !chord.IsDotChord())
        return false;
    const std::string letter = LetterOrDigit(chord.Keys().m_dKeys);
    if (letter.empty())
        return false;
    Add(entry.line, true, Text(IDS_CHORD_TYPES_CHARACTER, {chord.Name(), letter}));
    return true;
}

// "Typing Modifiers" is looked up first: the same chord in another section
// never applies. Function keys apply only after a "Function" modifier.
void KeyMapChecker::CheckAcrossSections(const KeyMapFile& file)
{
    for (const Chord& modifier : m_seen) {
        if (modifier.section != KeyMapFile::Modifiers)
            continue;
        for (const Chord& other : m_seen)
            if (other.section != KeyMapFile::Modifiers && other.name == modifier.name) {
                Add(other.line, true, Text(IDS_MODIFIER_WINS, {other.name, std::to_string(modifier.line)}));
                m_chords.erase(std::remove_if(m_chords.begin(), m_chords.end(),
                                              [&](const Chord& c) { return c.line == other.line; }),
                               m_chords.end());
            }
    }
    if (m_hasFunctionModifier)
        return;
    for (const KeyMapFile::Header& header : file.Headers())
        if (header.section == KeyMapFile::FunctionKeys) {
            Add(header.line, false, Text(IDS_NO_FUNCTION_MODIFIER));
            return;
        }
}
