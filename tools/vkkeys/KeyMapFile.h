// A key map file as the platform's profile reader, and so the driver, reads
// it: its section headers and entries with their line numbers, and the value
// the driver gets for any key. The driver only ever asks the platform for one
// value at a time; this is what a person needs to be told where a mistake is.
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
        std::string name;  // between the brackets, trimmed
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

    // A line the driver reads otherwise than its writer may think.
    struct LineProblem {
        int line;
        std::string text;
    };

    // How the platform turns the file's bytes into text and back: the
    // system's code page for plain files, UTF-8 after its byte order mark.
    struct Codec {
        std::u16string (*ansiToWide)(const std::string&);
        std::u16string (*utf8ToWide)(const std::string&);
        std::string (*wideToAnsi)(const std::u16string&);
    };
    // Without the platform: plain bytes as Latin-1, '?' for what has no byte.
    static const Codec kPortableCodec;

    // False with a message such as "cannot be read (no such file)"; the
    // file's lines are then empty. Reads with the system's code page.
    bool Load(const std::string& path, std::string& problem);
    // The same for the file's bytes (any bytes, any length); no platform call.
    bool Parse(const std::string& bytes, std::string& problem, const Codec& codec = kPortableCodec);

    const std::vector<Header>& Headers() const { return m_headers; }
    const std::vector<Entry>& Entries() const { return m_entries; }
    const std::vector<LineProblem>& LineProblems() const { return m_problems; }

    // What the platform hands the driver for one key, into a buffer of
    // bufferSize characters: "" when the file has no such key.
    std::string ValueOf(const std::string& section, const std::string& key, size_t bufferSize) const;

    // The section a header names, matched as the platform matches names.
    static Section SectionNamed(const std::string& name);
    // The name the driver asks for ("Typing Modifiers", ...).
    static const char* NameOf(Section section);

private:
    bool Decode(const std::string& bytes, std::u16string& text, std::string& problem) const;
    void ParseLine(const std::u16string& line, int number, Section& current);
    void AddHeader(const std::u16string& name, int number, Section& current);
    void AddEntry(const std::u16string& line, int number, Section current);
    void NoteControlCharacters(const std::u16string& line, int number);
    int FirstHeaderNamed(const std::u16string& name) const;

    Codec m_codec = kPortableCodec;
    std::vector<Header> m_headers;
    std::vector<Entry> m_entries;
    std::vector<LineProblem> m_problems;
    // The same names and values as the platform keeps them, for ValueOf.
    std::vector<std::u16string> m_wideHeaders;
    std::vector<std::u16string> m_wideKeys, m_wideValues;
};
