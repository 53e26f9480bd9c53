// vkkeys, the key map checker, run as a user runs it: on one broken key map
// per class of mistake, on unreadable files and on the shipped key map; its
// key reference, which docs/keys.md (docs/keys-fr.md for a French user) must
// match; and the string tables of vkkeys and vkdiag in both languages.
#include "TestEnv.h"
#include "VkdiagTexts.h"
#include "VkkeysTexts.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const size_t kBrailleWidth = 40;

struct Output {
    int exitCode;
    std::string output;
    std::vector<std::string> lines;
};

Output Vkkeys(const std::string& arguments)
{
    Output run;
    run.exitCode = testenv::RunProgram("\"" + testenv::BinDir() + "\\vkkeys.exe\" " + arguments, run.output);
    std::istringstream in(run.output);
    for (std::string line; std::getline(in, line);)
        run.lines.push_back(line);
    return run;
}

std::string SourcePath(const std::string& relative)
{
    std::string path = testenv::SourceDir() + "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string WriteFile(const std::string& name, const std::string& bytes)
{
    static const std::string dir = testenv::FreshDir("vkkeys");
    const std::string path = dir + "\\" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return path;
}

// A key map with one kind of mistake per class, and what check must say:
// the text expected on each reported line (0: the file as a whole).
struct Case {
    const char* name;
    std::string text;
    std::map<int, std::vector<const char*>> expected;
    int exitCode;
};

const std::string kLongValue(600, 'x');
const char kBinary[] = "[Typing]\nD1+D9=Up\0\x01\x02\x03";

const Case kCases[] = {
    {"chords",
     "[Typing Modifiers]\n"                  // 1
     "C1=Control\n"                          // 2
     "[Typing]\n"                            // 3
     "D9+D1=UpArrow\n"                       // 4
     "D0+D9=Home\n"                          // 5
     "=End\n"                                // 6
     "D4+D9=DownArrow\n"                     // 7
     "d4+d9=PageDown\n"                      // 8
     "C1=Tab\n"                              // 9
     "D3++D9=LeftArrow\n"                    // 10
     "D6+D9\n",                              // 11
     {{4, {"write D1+D9"}},
      {5, {"unknown key D0"}},
      {6, {"empty chord"}},
      {8, {"already on line 7"}},
      {9, {"modifier on line 2"}},
      {10, {"empty key name"}},
      {11, {"no '='"}}},
     1},
    {"letters",
     "[Typing Modifiers]\n"                  // 1
     "D1+D2=Shift\n"                         // 2  b
     "C6=Function\n"                         // 3
     "[Typing]\n"                            // 4
     "D1+D7=Home\n"                          // 5  A
     "D2+D8=End\n"                           // 6  1 with dot 8
     "D3+D4+D5+D6=Tab\n"                     // 7  #, no letter
     "D2+D5+D9=Enter\n"                      // 8  with the space key
     "[Function Keys]\n"                     // 9
     "D1=1\n",                               // 10 used only after Function
     {{2, {"letter b"}}, {5, {"letter A"}}, {6, {"digit 1 with dot 8"}}},
     1},
    {"values",
     "[Typing Modifiers]\n"                  // 1
     "C1=Ctrl\n"                             // 2
     "C2=function\n"                         // 3
     "C3=Function+Shift\n"                   // 4
     "C6=Function\n"                         // 5
     "[Typing]\n"                            // 6
     "D1+D9=Home ; go home\n"                // 7
     "D4+D9=Hom\n"                           // 8
     "D3+D9=\n"                              // 9
     "D6+D9=" + kLongValue + "\n"            // 10
     "D2+D9=Control + End\n"                 // 11
     "[Function Keys]\n"                     // 12
     "D1=25\n"                               // 13
     "D1+D2=F2\n"                            // 14
     "D1+D4=05\n",                           // 15
     {{2, {"'Ctrl' is not a modifier"}},
      {3, {"capital F"}},
      {4, {"must come last"}},
      {7, {"'; go home' becomes part"}},
      {8, {"warning: 'Hom'", "Home"}},
      {9, {"no value"}},
      {10, {"600 characters", "499"}},
      {11, {"warning: spaces", "Control+End"}},
      {13, {"'25' is not 1-24"}},
      {14, {"'F2' is not 1-24"}},
      {15, {"'05' is not 1-24"}}},
     1},
    {"sections",
     "D6+D9=RightArrow\n"                    // 1
     "[Typing]\n"                            // 2
     "D1+D9=UpArrow\n"                       // 3
     "[Typeing]\n"                           // 4
     "D4+D9=DownArrow\n"                     // 5
     "[typing]\n"                            // 6
     "D3+D9=LeftArrow\n"                     // 7
     "[Function Keys]\n"                     // 8
     "D1=1\n"                                // 9
     "[Typing Modifiers\n",                  // 10
     {{1, {"before any section"}},
      {4, {"write [Typing]"}},
      {6, {"already on line 2"}},
      {8, {"warning: no modifier is Function"}},
      {10, {"lacks its ']'"}}},
     1},
    {"warnings only",
     "[Typing]\n"
     "D4+D9=Control+PageDwn\n",
     {{2, {"warning: 'PageDwn'", "PageDown"}}},
     0},
    {"not text", std::string(kBinary, sizeof kBinary - 1), {{2, {"a NUL byte", "up to it"}}}, 1},
};

// The line numbers a check reported, with their texts.
std::map<int, std::string> Findings(const Output& run, const std::string& shown)
{
    std::map<int, std::string> findings;
    for (const std::string& line : run.lines) {
        if (line.compare(0, shown.size() + 1, shown + ":") != 0)
            continue;
        const std::string rest = line.substr(shown.size() + 1);
        if (isdigit(static_cast<unsigned char>(rest[0])))
            findings[atoi(rest.c_str())] += rest;
        else if (rest.find(" error") == std::string::npos && rest.find(" OK,") == std::string::npos)
            findings[0] += rest;  // the file as a whole; the summary aside
    }
    return findings;
}

void ExpectFitsBrailleLine(const Output& run)
{
    for (const std::string& line : run.lines)
        EXPECT_LE(line.size(), kBrailleWidth) << line;
}

TEST(Vkkeys, ReportsEachMistakeOnItsLine)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteFile(std::string(c.name) + ".ini", c.text);
        const Output run = Vkkeys("check \"" + path + "\"");
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
        const auto findings = Findings(run, path);
        for (const auto& [line, texts] : c.expected) {
            ASSERT_TRUE(findings.count(line)) << "nothing on line " << line << "\n" << run.output;
            for (const char* text : texts)
                EXPECT_NE(findings.at(line).find(text), std::string::npos) << "line " << line << ": " << text;
        }
        for (const auto& finding : findings)
            EXPECT_TRUE(c.expected.count(finding.first)) << "unexpected: " << finding.second;
        EXPECT_EQ(run.lines.back().find(path + ": "), 0u) << "a summary ends the report";
        ExpectFitsBrailleLine(Vkkeys("check --width 40 \"" + path + "\""));
    }
}

TEST(Vkkeys, FilesThatCannotBeReadAreReportedNotCrashedOn)
{
    const std::string folder = testenv::FreshDir("vkkeys-folder");
    for (const std::string& path : {folder + "\\missing.ini", folder}) {
        const Output run = Vkkeys("check \"" + path + "\"");
        EXPECT_EQ(run.exitCode, 1) << run.output;
        ASSERT_FALSE(run.lines.empty());
        EXPECT_EQ(run.lines[0].find(path + ": "), 0u) << run.output;
        EXPECT_NE(run.output.find(path == folder ? "is a folder" : "no such file"), std::string::npos) << run.output;
        EXPECT_EQ(Vkkeys("list \"" + path + "\"").exitCode, 1);
    }
    const Output narrow = Vkkeys("check --width 5");
    EXPECT_EQ(narrow.exitCode, 2) << "usage error";
    EXPECT_NE(narrow.output.find("the least width is 20"), std::string::npos) << narrow.output;
}

TEST(Vkkeys, ShippedKeyMapIsCleanAndFitsABrailleLine)
{
    const std::string shipped = SourcePath("driver/keys/kvbrl.ini");
    const Output check = Vkkeys("check \"" + shipped + "\"");
    EXPECT_EQ(check.exitCode, 0) << check.output;
    ASSERT_EQ(check.lines.size(), 1u) << check.output;
    EXPECT_NE(check.lines[0].find(": OK, "), std::string::npos);
    // Beside vkkeys in the build, as in the installation: the default file.
    EXPECT_EQ(Vkkeys("check").exitCode, 0);

    const Output list = Vkkeys("list --width 40 \"" + shipped + "\"");
    EXPECT_EQ(list.exitCode, 0);
    ExpectFitsBrailleLine(list);
    for (const char* line : {"C6 = Function", "D1+D9 (a+space) = UpArrow", "D1+D2 (b) = F2"})
        EXPECT_NE(list.output.find(std::string("\n") + line + "\n"), std::string::npos) << line;

    // Long values are cut into pieces that fit too.
    const std::string wide = WriteFile("wide.ini", "[Typing]\nD1+D2+D3+D4+D5+D6+D7+D8+D9=Control+Alt+Shift+Windows+"
                                                   "Insert+UpArrow+DownArrow+LeftArrow+RightArrow+Home\n");
    const Output wrapped = Vkkeys("list --width 40 \"" + wide + "\"");
    ExpectFitsBrailleLine(wrapped);
    EXPECT_NE(wrapped.output.find("RightArrow"), std::string::npos) << wrapped.output;
}

TEST(Vkkeys, KeyReferenceInDocsMatchesTheShippedKeyMap)
{
    const Output list = Vkkeys("list --markdown \"" + SourcePath("driver/keys/kvbrl.ini") + "\"");
    ASSERT_EQ(list.exitCode, 0);
    const char* reference = testenv::FrenchUser() ? "docs/keys-fr.md" : "docs/keys.md";
    std::ifstream doc(SourcePath(reference), std::ios::binary);
    std::string checkedIn((std::istreambuf_iterator<char>(doc)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(checkedIn == list.output)
        << reference << " differs from `vkkeys list --markdown` of driver/keys/kvbrl.ini: "
           "run `make docs` to regenerate it, then commit it";
}

// A string of a program's tables in one language, as Windows stores it: 16
// counted strings a block; absent is empty.
std::wstring TableString(HMODULE program, unsigned id, WORD language)
{
    HRSRC found = FindResourceExW(program, reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(id / 16 + 1),
                                  language);
    const WCHAR* p = found ? static_cast<const WCHAR*>(LockResource(LoadResource(program, found))) : nullptr;
    if (!p)
        return std::wstring();
    for (unsigned i = 0; i < id % 16; ++i)
        p += 1 + *p;
    return std::wstring(p + 1, *p);
}

std::multiset<std::wstring> Inserts(const std::wstring& text)
{
    std::multiset<std::wstring> inserts;
    for (size_t i = text.find(L'%'); i != std::wstring::npos; i = text.find(L'%', i + 1))
        inserts.insert(text.substr(i, 2));
    return inserts;
}

BOOL CALLBACK AddBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR blocks)
{
    reinterpret_cast<std::vector<unsigned>*>(blocks)->push_back(static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

// Each tool speaks the user's language through its string tables: every
// string has its English and its French form, with the same inserts, and
// the help (in the user's language) fits 80 columns.
TEST(ToolTexts, EveryStringIsInEnglishAndFrenchAndTheHelpIsTheUsersLanguage)
{
    const struct {
        const char* program;
        unsigned help;
    } kPrograms[] = {{"vkkeys.exe", IDS_VKKEYS_HELP}, {"vkdiag.exe", IDS_DIAG_HELP}};
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL), french = MAKELANGID(LANG_FRENCH, SUBLANG_NEUTRAL);
    for (const auto& p : kPrograms) {
        SCOPED_TRACE(p.program);
        const std::string path = testenv::BinDir() + "\\" + p.program;
        HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(program, nullptr);
        std::vector<unsigned> blocks;
        EnumResourceNamesW(program, reinterpret_cast<LPCWSTR>(RT_STRING), AddBlock, reinterpret_cast<LONG_PTR>(&blocks));
        EXPECT_GE(blocks.size(), 3u);
        for (unsigned block : blocks)
            for (unsigned id = (block - 1) * 16; id < block * 16; ++id) {
                const std::wstring en = TableString(program, id, english), fr = TableString(program, id, french);
                EXPECT_EQ(en.empty(), fr.empty()) << "string " << id << " lacks a language";
                EXPECT_TRUE(Inserts(en) == Inserts(fr)) << "string " << id << " differs in its inserts";
            }
        const std::wstring help = TableString(program, p.help, testenv::FrenchUser() ? french : english);
        FreeLibrary(program);
        Output run;
        run.exitCode = testenv::RunProgram("\"" + path + "\" help", run.output);
        EXPECT_EQ(run.exitCode, 0);
        std::wistringstream lines(help);
        for (std::wstring line; std::getline(lines, line);) {
            char utf8[512] = "";
            WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
            if (line.find(L'%') == std::wstring::npos)
                EXPECT_NE(run.output.find(utf8), std::string::npos) << "not in the user's language: " << utf8;
        }
        std::istringstream shown(run.output);
        for (std::string line; std::getline(shown, line);)
            EXPECT_LE(std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80 && c != '\r'; }),
                      80) << line;
    }
}

}  // namespace
