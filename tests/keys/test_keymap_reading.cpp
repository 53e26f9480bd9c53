// The key map checker reads a file as the driver does: every input of the key
// map fuzz corpus and a table of hand-made files, each section and key asked
// for through the platform's profile reader (the driver's own call, with the
// driver's buffer) and through the checker, must give the same value.
#include "KeyMapFile.h"
#include "TestEnv.h"
#include "keys/CKeyCombination.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace {

const DWORD kDriverBuffer = CKeyCombination::kKeyMapValueSize;

std::string Utf16(const std::string& ascii, bool bigEndian = false)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii)
        bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return bytes;
}

const std::string kLong(700, 'x');

// The cases the fuzzer is unlikely to put together.
const std::vector<std::string> kHandCases = {
    "D1=before any section\n[Typing]\nD1=in it\n",
    "[Typing]\nD1=first\n[Typing]\nD1=second\nD2=only in the second\n",
    "[Typing]\nD1=first\nd1=second\n",
    "[Typing]\nD1\nD1=after a line without '='\n",
    " \t[ Typing ]\t \n \tD1 \t= \t spaced \t \n",
    "[Typing]\nD1=\"quoted\"\nD2='single'\nD3=\"open\nD4=\"\nD5=\"\"\nD6=\"mixed'\n",
    "[Typing]\n;D1=comment\n ; D2=indented comment\nD3=a ; trailing\n",
    "[Typing]\nD1=" + kLong + "\nD2=\"" + kLong + "\"\nD3=\"" + std::string(498, 'y') + "\"\n",
    "[Typing]\r\nD1=crlf\r\nD2=crlf\r\n",
    "[Typing]\rD1=cr\rD2=cr\r",
    "[Typing]\nD1=lf\r\r\n\nD2=mixed\n\r",
    "\xEF\xBB\xBF[Typing]\nD1=utf-8\n",
    "\xEF\xBB\xBF[Typing]\nD1=caf\xC3\xA9\nD2=\xE2\x82\xAC\nD3=\xFF\xFE\n",
    Utf16("[Typing]\r\nD1=utf-16\r\n"),
    Utf16("[Typing]\r\nD1=big-endian\r\n", true),
    Utf16("[Typing]\r\nD1=odd\r\n") + "x",
    std::string("[Typing]\nD1=a\0b\nD2\0=c\n[Typ\0ing]\nD3=d\n", 38),
    "[Typing]\nD1=\x01\x02 control\x1a\nD2=\x0b\x0cvertical\x0b\n\x1a\n",
    "[TYPING]\nd1+d9=upper\n[typing modifiers]\nC1=lower\n",
    "[Typing]\nD1=caf\xE9\n\xA0" "D2\xA0=\xA0" "nbsp\xA0\n",
    "\xEF\xBB\xBF[Typing]\n\xC2\x85" "D1\xE3\x80\x80=\xE2\x80\x83" "wide\xE2\x80\xA8\nD2=\xC0\xAF\xED\xA0\x80\n",
    "[Typing]x]\nD1=last bracket\n[Typing Modifiers]]\nC1=Control\n",
    "[Typing\nD1=unclosed\n[Typing]x\nD2=after\n[]\nD3=empty section\n=no key\n",
};

std::vector<std::pair<std::string, std::string>> Inputs()
{
    std::vector<std::pair<std::string, std::string>> inputs;
    for (size_t i = 0; i < kHandCases.size(); ++i)
        inputs.emplace_back("hand case " + std::to_string(i + 1), kHandCases[i]);
    const std::string folder = testenv::SourceDir() + "\\tests\\fuzz\\corpus\\key_map";
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return inputs;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            inputs.emplace_back(found.cFileName, testenv::ReadBytes(folder + "\\" + found.cFileName));
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return inputs;
}

// A list of NUL-ended names, as the profile reader hands it back.
std::vector<std::string> Names(const std::vector<char>& buffer, DWORD length)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < length; i += names.back().size() + 1)
        names.emplace_back(&buffer[i]);
    return names;
}

std::string DriverReads(const std::string& path, const std::string& section, const std::string& key)
{
    char buffer[kDriverBuffer];
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer, kDriverBuffer, path.c_str());
    return std::string(buffer, n);
}

// Every section either side knows of, every key of it either side knows of:
// the first that the two read otherwise, or "".
std::string FirstDifference(const std::string& path)
{
    KeyMapFile file;
    std::string problem;
    if (!file.Load(path, problem))
        return "";  // refused: the checker says why, and lists nothing
    std::vector<char> buffer(1 << 20);
    std::set<std::string> sections;
    for (const KeyMapFile::Header& header : file.Headers())
        sections.insert(header.name);
    for (const std::string& s : Names(buffer, GetPrivateProfileSectionNamesA(buffer.data(), buffer.size(), path.c_str())))
        sections.insert(s);
    // The driver asks for named sections only; what either reader does with
    // lines before any section is compared by the hand case below.
    sections.erase("");
    for (const std::string& section : sections) {
        std::set<std::string> keys;
        for (const KeyMapFile::Entry& entry : file.Entries())
            keys.insert(entry.key);
        const DWORD n =
            GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), buffer.size(), path.c_str());
        for (const std::string& k : Names(buffer, n))
            keys.insert(k);
        for (const std::string& key : keys) {
            const std::string checker = file.ValueOf(section, key, kDriverBuffer);
            const std::string driver = DriverReads(path, section, key);
            if (checker != driver)
                return "[" + section + "] " + key + ": the checker reads '" + checker + "', the driver '" + driver + "'";
        }
    }
    return "";
}

TEST(KeyMapReading, CheckerReadsEveryCorpusInputAndHandCaseAsTheDriverDoes)
{
    const auto inputs = Inputs();
    ASSERT_GT(inputs.size(), kHandCases.size() + 100) << "the key map corpus was not found";
    const std::string dir = testenv::FreshDir("keymap-reading");
    int n = 0;
    for (const auto& [name, bytes] : inputs) {
        // A new name each time: the platform keeps what it read of a file.
        const std::string path = dir + "\\" + std::to_string(++n) + ".ini";
        testenv::WriteBytes(path, bytes);
        const std::string difference = FirstDifference(path);
        EXPECT_EQ(difference, "") << name;
    }
}

// Where Wine is known to answer otherwise than Windows (its own conformance
// test of the profile functions, run on Windows, records Windows' answer),
// the checker follows Windows: lines before any section belong to no
// section, and "[]" names the section "". The driver never asks for "".
TEST(KeyMapReading, LinesBeforeAnySectionAreReadAsWindowsReadsThem)
{
    const std::string path = testenv::FreshDir("keymap-windows") + "\\kvbrl.ini";
    testenv::WriteBytes(path, "D1=before any section\r\n[]\r\nD1=in the empty section\r\n");
    KeyMapFile file;
    std::string problem;
    ASSERT_TRUE(file.Load(path, problem)) << problem;
    EXPECT_EQ(file.ValueOf("", "D1", kDriverBuffer), "in the empty section");
    EXPECT_EQ(DriverReads(path, "", "D1"), "before any section") << "Wine reads these lines as section \"\"";
}

}  // namespace
