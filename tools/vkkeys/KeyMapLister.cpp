#include "KeyMapLister.h"

#include "KeyMapTexts.h"
#include "ToolText.h"
#include "keys/CCellivantaKeyCombination.h"

namespace {

using Section = KeyMapFile::Section;
using tooltext::Text;

const char kKeyboardPrefix[] = "qwerty:";
const int kNameCapacity = 1000;  // what the driver's key dispatch passes

struct SectionText {
    Section section;
    unsigned line;  // the heading on a braille display
    unsigned markdown;
};

const SectionText kSections[] = {
    {KeyMapFile::Modifiers, IDS_LIST_MODIFIERS, IDS_DOC_MODIFIERS},
    {KeyMapFile::Typing, IDS_LIST_TYPING, IDS_DOC_TYPING},
    {KeyMapFile::FunctionKeys, IDS_LIST_FUNCTION_KEYS, IDS_DOC_FUNCTION_KEYS},
};

std::string BaseName(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Braille characters such as | or * would break or restyle a table cell.
std::string MarkdownCell(const std::string& text)
{
    std::string cell;
    for (char c : text) {
        if (std::string("\\`*_[]<>#|").find(c) != std::string::npos)
            cell += '\\';
        cell += c;
    }
    return cell;
}

}  // namespace

// Asks the driver's own translation what the chord delivers: a modifier's
// text, a keyboard key, or (after the "Function" modifier) an F key.
std::string KeyMapLister::Gives(const KeyMapChecker::Chord& chord) const
{
    CCellivantaKeyCombination keys;
    keys.SetDKeys(chord.dKeys);
    keys.SetTKeys(chord.tKeys);
    keys.SetCKeys(chord.cKeys);
    keys.SetRoutingKey(chord.routing);
    const char* pending = chord.section == KeyMapFile::FunctionKeys ? CKeyCombination::kFunctionModifier : "";
    char name[kNameCapacity] = "";
    int length = kNameCapacity, routing = 0;
    WORD dots = 0;
    BYTE isModifier = 0;
    if (!keys.TranslateForJaws(m_path.c_str(), pending, name, length, routing, dots, isModifier))
        return "";
    std::string gives = isModifier ? std::string(name) : std::string(name, length);
    if (gives.compare(0, sizeof kKeyboardPrefix - 1, kKeyboardPrefix) == 0)
        gives.erase(0, sizeof kKeyboardPrefix - 1);
    return gives;
}

void KeyMapLister::PrintText(LineWriter& out, size_t ignored) const
{
    out.Line(Text(IDS_LIST_COUNT, {BaseName(m_path), std::to_string(m_chords.size())}));
    for (const SectionText& s : kSections) {
        bool heading = false;
        for (const KeyMapChecker::Chord& chord : m_chords) {
            if (chord.section != s.section)
                continue;
            if (!heading)
                out.Line(Text(s.line)), heading = true;
            const std::string braille = chord.braille.empty() ? "" : " (" + chord.braille + ")";
            out.Line(chord.name + braille + " = " + Gives(chord));
        }
    }
    out.Line(Text(IDS_LIST_OTHER_DOTS));
    out.Line(Text(IDS_LIST_OTHER_CHORDS));
    if (ignored)
        out.Line(Text(IDS_LIST_IGNORED, {std::to_string(ignored)}));
}

void KeyMapLister::PrintMarkdown(FILE* out) const
{
    tooltext::Write(out, "# " + Text(IDS_DOC_TITLE) + "\n\n" + Text(IDS_DOC_INTRO, {BaseName(m_path)}) + "\n");
    for (const SectionText& s : kSections) {
        tooltext::Write(out, "\n## " + std::string(KeyMapFile::NameOf(s.section)) + "\n\n" + Text(s.markdown) + "\n\n" +
                                 Text(IDS_DOC_COLUMNS) + "\n|---|---|---|\n");
        for (const KeyMapChecker::Chord& chord : m_chords)
            if (chord.section == s.section)
                tooltext::Write(out, "| " + chord.name + " | " + MarkdownCell(chord.braille) + " | " +
                                         MarkdownCell(Gives(chord)) + " |\n");
    }
}
