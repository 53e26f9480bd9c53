// What every working chord of a key map does, as the driver delivers it:
// plain lines for a braille display or a Markdown table.
#pragma once

#include "KeyMapChecker.h"
#include "LineWriter.h"

#include <string>
#include <vector>

class KeyMapLister {
public:
    KeyMapLister(const std::string& path, const std::vector<KeyMapChecker::Chord>& chords)
        : m_path(path), m_chords(chords) {}

    // ignored: entries that do nothing, counted at the end.
    void PrintText(LineWriter& out, size_t ignored) const;
    void PrintMarkdown(FILE* out) const;

private:
    std::string Gives(const KeyMapChecker::Chord& chord) const;

    std::string m_path;
    std::vector<KeyMapChecker::Chord> m_chords;
};
