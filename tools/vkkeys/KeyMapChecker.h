// Reads a key map file the way the driver does and finds every entry that
// cannot work or will surprise its writer.
#pragma once

#include "KeyChord.h"
#include "KeyMapFile.h"

#include <cstdint>
#include <string>
#include <vector>

class KeyMapChecker {
public:
    struct Finding {
        int line;  // 0: the file as a whole
        bool error;
        std::string text;  // what is wrong; what to write instead
    };

    // An entry that the driver finds and uses.
    struct Chord {
        int line;
        KeyMapFile::Section section;
        std::string name;
        std::string braille;
        uint32_t dKeys, tKeys, cKeys, routing;
    };

    // Findings in line order.
    std::vector<Finding> Check(const std::string& path);
    // The entries that work, in file order (after Check).
    const std::vector<Chord>& Chords() const { return m_chords; }
    // Entries written in the file, working or not.
    size_t EntryCount() const { return m_entryCount; }

private:
    void Add(int line, bool error, const std::string& text);
    void CheckHeaders(const KeyMapFile& file);
    bool CheckChord(const KeyMapFile::Entry& entry, KeyChord& chord);
    bool IsRepeated(const KeyMapFile::Entry& entry, const KeyChord& chord);
    void CheckValue(const std::string& path, const KeyMapFile::Entry& entry, const KeyChord& chord);
    bool CheckSpacing(int line, const std::string& value);
    void CheckModifierValue(int line, const std::string& value);
    void CheckTypingValue(int line, const std::string& value);
    void CheckFunctionKeyValue(int line, const std::string& value);
    bool CheckShadowing(const KeyMapFile::Entry& entry, const KeyChord& chord);
    void CheckAcrossSections(const KeyMapFile& file);

    std::vector<Finding> m_findings;
    std::vector<Chord> m_chords;
    std::vector<Chord> m_seen;  // first entry of each chord in each section read
    bool m_hasFunctionModifier = false;
    size_t m_entryCount = 0;
};
