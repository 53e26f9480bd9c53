// A key map file as written: its section headers and entries with their line
// numbers. The driver only ever asks the platform for one value at a time;
// this is what a person needs to be told where a mistake is.
#pragma once

#include <string>
#include <vector>

class KeyMapFile {
public:
    // The sections the driver reads, and the rest. The platform reads only
    // the first section of a name: a later one of the same name is Repeated.
    enum Section { Modifiers, Typing, FunctionKeys, NoSection, OtherSection, Repeated };

    struct Header {
        int line;
        std::string name;  // between the brackets, as written
        Section section;
        int firstLine;  // of a Repeated section: the header that counts
    };

    struct Entry {
        int line;
        Section section;
        std::string key;    // left of "=", trimmed
        std::string value;  // right of "=", trimmed, one pair of enclosing quotes removed
        bool hasEquals;
        int header;  // index into Headers(); -1 before any section
    };

    // False with a message such as "cannot be read (no such file)" or "is
    // not a text file"; the file's lines are then empty.
    bool Load(const std::string& path, std::string& problem);
    // The same for the file's bytes (any bytes, any length); no platform call.
    bool Parse(const std::string& bytes, std::string& problem);

    const std::vector<Header>& Headers() const { return m_headers; }
    const std::vector<Entry>& Entries() const { return m_entries; }

    // What the platform hands the driver for one key, into a buffer of
    // bufferSize characters: "" when the file has no such key.
    std::string ValueOf(const std::string& section, const std::string& key, size_t bufferSize) const;

    // The section a header names, matched as the platform matches names.
    static Section SectionNamed(const std::string& name);
    // The name the driver asks for ("Typing Modifiers", ...).
    static const char* NameOf(Section section);

private:
    bool Decode(const std::string& bytes, std::string& text, std::string& problem);
    void ParseLine(const std::string& line, int number, Section& current);

    std::vector<Header> m_headers;
    std::vector<Entry> m_entries;
};
