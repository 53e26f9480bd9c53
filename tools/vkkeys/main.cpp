// vkkeys: checks the display's key map file and lists what its chords do.
//
//   vkkeys check [FILE] [--width N]
//   vkkeys list [FILE] [--width N] [--markdown]
//   vkkeys help (or --help, /?)
//
// FILE defaults to the kvbrl.ini beside vkkeys, where the setup installs it.
// check exits with 1 when an entry cannot work, 0 when there are at most
// warnings. --width N cuts every line to N characters (40 for a 40-cell
// braille display).
#include "KeyMapChecker.h"
#include "KeyMapLister.h"
#include "KeyMapReport.h"
#include "KeyMapTexts.h"
#include "LineWriter.h"
#include "ToolText.h"
#include "VkkeysTexts.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using tooltext::Text;

const size_t kMinWidth = 20;
enum ExitCode { kDone = 0, kErrors = 1, kBadUsage = 2 };

struct Options {
    std::string command;
    std::string path;
    std::string shownName;  // the file as the lines name it
    size_t width = 0;
    bool markdown = false;
    std::string refusal;  // what was wrong with the command line
};

std::string DefaultKeyMap()
{
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path(exe, n);
    return path.substr(0, path.find_last_of('\\') + 1) + "kvbrl.ini";
}

// The profile functions look for a bare file name in the Windows folder, not
// in the current one: hand them the full path, as the driver has.
std::string FullPath(const std::string& path)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(full, n) : path;
}

bool IsHelp(const std::string& arg)
{
    return arg == "help" || arg == "--help" || arg == "-h" || arg == "/?";
}

// The first thing wrong with one argument, or "".
std::string Take(int argc, char** argv, int& i, Options& options)
{
    const std::string arg = argv[i];
    if (arg == "--markdown") {
        options.markdown = true;
    } else if (arg == "--width") {
        char* end = nullptr;
        const long width = i + 1 < argc ? strtol(argv[i + 1], &end, 10) : 0;
        if (!end || *end || end == argv[i + 1])
            return Text(IDS_VKKEYS_WIDTH_MISSING);
        if (width < static_cast<long>(kMinWidth))
            return Text(IDS_VKKEYS_WIDTH_TOO_SMALL, {argv[i + 1]});
        options.width = static_cast<size_t>(width);
        ++i;
    } else if (arg.compare(0, 1, "-") == 0) {
        return Text(IDS_VKKEYS_UNKNOWN_OPTION, {arg});
    } else if (options.command.empty()) {
        if (arg != "check" && arg != "list")
            return Text(IDS_VKKEYS_UNKNOWN_COMMAND, {arg});
        options.command = arg;
    } else if (!options.path.empty()) {
        return Text(IDS_VKKEYS_SECOND_FILE, {arg});
    } else {
        options.path = FullPath(arg);
        options.shownName = arg;
    }
    return "";
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc && options.refusal.empty(); ++i)
        options.refusal = Take(argc, argv, i, options);
    if (options.refusal.empty() && options.command.empty())
        options.refusal = Text(IDS_VKKEYS_NO_COMMAND);
    if (options.refusal.empty() && options.markdown && options.command != "list")
        options.refusal = Text(IDS_VKKEYS_MARKDOWN_WITHOUT_LIST);
    if (options.path.empty()) {
        options.path = DefaultKeyMap();
        options.shownName = "kvbrl.ini";
    }
    return options.refusal.empty();
}

int Check(const Options& options)
{
    LineWriter out(stdout, options.width);
    return KeyMapReport::Write(options.path, options.shownName, out) ? kErrors : kDone;
}

int List(const Options& options)
{
    KeyMapChecker checker;
    const auto findings = checker.Check(options.path);
    if (!findings.empty() && findings[0].line == 0 && findings[0].error) {
        LineWriter(stdout, options.width).Line(Text(IDS_REPORT_FINDING, {options.shownName, findings[0].text}));
        return kErrors;
    }
    KeyMapLister lister(options.path, checker.Chords());
    if (options.markdown) {
        lister.PrintMarkdown(stdout);
    } else {
        LineWriter out(stdout, options.width);
        lister.PrintText(out, checker.EntryCount() - checker.Chords().size());
    }
    return kDone;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && IsHelp(argv[1])) {
        tooltext::Write(stdout, Text(IDS_VKKEYS_HELP));
        return kDone;
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        tooltext::Line(stderr, options.refusal);
        tooltext::Line(stderr, Text(IDS_VKKEYS_SEE_HELP));
        return kBadUsage;
    }
    const int result = options.command == "check" ? Check(options) : List(options);
    fflush(stdout);
    return result;
}
