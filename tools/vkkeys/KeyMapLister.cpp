#include "KeyMapLister.h"

#include "keys/CCellivantaKeyCombination.h"

namespace {

using Section = KeyMapFile::Section;

const char kKeyboardPrefix[] = "qwerty:";
const int kNameCapacity = 1000;  // what the driver's key dispatch passes

struct SectionText {
    Section section;
    const char* line;  // the heading on a braille display
    const char* markdown;
};

const SectionText kSections[] = {
    {KeyMapFile::Modifiers, "Modifiers, then press a key:",
     "Press and release the chord, then the key it applies to."},
    {KeyMapFile::Typing, "Keyboard keys:", "Each chord presses a key of the keyboard, after any waiting modifier."},
    {KeyMapFile::FunctionKeys, "After Function, F keys:",
     "Right after a modifier with Function, these chords give the F keys."},
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
    out.Line(BaseName(m_path) + ": " + std::to_string(m_chords.size()) + " chords");
    for (const SectionText& s : kSections) {
        bool heading = false;
        for (const KeyMapChecker::Chord& chord : m_chords) {
            if (chord.section != s.section)
                continue;
            if (!heading)
                out.Line(s.line), heading = true;
            const std::string braille = chord.braille.empty() ? "" : " (" + chord.braille + ")";
            out.Line(chord.name + braille + " = " + Gives(chord));
        }
    }
    out.Line("Other dot chords type braille.");
    out.Line("Other chords go to the screen reader.");
    if (ignored)
        out.Line(std::to_string(ignored) + " entries do nothing: vkkeys check");
}

void KeyMapLister::PrintMarkdown(FILE* out) const
{
    fprintf(out, "# Keys of the Cellivanta VK\n\n");
    fprintf(out, "What each chord of the key map `%s` does. Made by `vkkeys list --markdown`; "
                 "dot chords not listed here type braille, and other chords reach the screen reader "
                 "under their own names, such as D2+T1.\n",
            BaseName(m_path).c_str());
    for (const SectionText& s : kSections) {
        fprintf(out, "\n## %s\n\n%s\n\n| Chord | Braille | Gives |\n|---|---|---|\n", KeyMapFile::NameOf(s.section),
                s.markdown);
        for (const KeyMapChecker::Chord& chord : m_chords)
            if (chord.section == s.section)
                fprintf(out, "| %s | %s | %s |\n", chord.name.c_str(), MarkdownCell(chord.braille).c_str(),
                        MarkdownCell(Gives(chord)).c_str());
    }
}
