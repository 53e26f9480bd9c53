// vkkeys: checks the display's key map file and lists what its chords do.
//
//   vkkeys check [FILE] [--width N]
//   vkkeys list [FILE] [--width N] [--markdown]
//
// FILE defaults to the kvbrl.ini beside vkkeys, where the setup installs it.
// check exits with 1 when an entry cannot work, 0 when there are at most
// warnings. --width N cuts every line to N characters (40 for a 40-cell
// braille display).
#include "KeyMapChecker.h"
#include "KeyMapLister.h"
#include "KeyMapReport.h"
#include "LineWriter.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kUsage[] = "usage: vkkeys check|list [FILE] [--width N] [--markdown]\n";
const size_t kMinWidth = 20;

struct Options {
    std::string command;
    std::string path;
    std::string shownName;  // the file as the lines name it
    size_t width = 0;
    bool markdown = false;
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

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--markdown") {
            options.markdown = true;
        } else if (arg == "--width" && i + 1 < argc) {
            const long width = strtol(argv[++i], nullptr, 10);
            if (width < static_cast<long>(kMinWidth))
                return false;
            options.width = static_cast<size_t>(width);
        } else if (options.command.empty() && (arg == "check" || arg == "list")) {
            options.command = arg;
        } else if (!options.command.empty() && options.path.empty() && arg.compare(0, 2, "--") != 0) {
            options.path = FullPath(arg);
            options.shownName = arg;
        } else {
            return false;
        }
    }
    if (options.path.empty()) {
        options.path = DefaultKeyMap();
        options.shownName = "kvbrl.ini";
    }
    return !options.command.empty() && !(options.markdown && options.command != "list");
}

int Check(const Options& options)
{
    LineWriter out(stdout, options.width);
    return KeyMapReport::Write(options.path, options.shownName, out) ? 1 : 0;
}

int List(const Options& options)
{
    KeyMapChecker checker;
    const auto findings = checker.Check(options.path);
    if (!findings.empty() && findings[0].line == 0 && findings[0].error) {
        LineWriter(stdout, options.width).Line(options.shownName + ": " + findings[0].text);
        return 1;
    }
    KeyMapLister lister(options.path, checker.Chords());
    if (options.markdown) {
        lister.PrintMarkdown(stdout);
    } else {
        LineWriter out(stdout, options.width);
        lister.PrintText(out, checker.EntryCount() - checker.Chords().size());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fputs(kUsage, stderr);
        return 2;
    }
    const int result = options.command == "check" ? Check(options) : List(options);
    fflush(stdout);
    return result;
}
