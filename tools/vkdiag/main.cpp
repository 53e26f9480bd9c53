// vkdiag: finds the braille display and writes a report for support, one
// fact a line, for a user reading with a screen reader.
#include "Finder.h"
#include "KeyMapReport.h"
#include "LogTool.h"
#include "SystemFacts.h"
#include "ToolText.h"
#include "VkdiagTexts.h"
#include "Trace.h"
#include "Version.h"
#include "core/CBrailleDisplayDriver.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

using tooltext::Text;

enum ExitCode { kFound = 0, kNotFound = 1, kBadUsage = 2, kNoReport = 3 };

// The driver's trace lines during the probes go into the report, not into
// the user's log.
std::mutex g_traceMutex;
std::vector<std::string> g_traceLines;

void KeepTrace(const char* line)
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceLines.push_back(line);
}

// Says what was wrong with the command line, and where the help is.
int BadUsage(const std::string& refusal)
{
    tooltext::Line(stderr, refusal);
    tooltext::Line(stderr, Text(IDS_DIAG_SEE_HELP));
    return kBadUsage;
}

std::string SupportContact()
{
    const std::string contact = VK_SUPPORT_CONTACT;
    return contact.empty() ? Text(IDS_DIAG_SUPPORT_DEALER) : contact;
}

int Find(int argc, char** argv)
{
    const bool probe = argc >= 3 && std::string(argv[2]) == "--probe";
    if (argc >= 3 && !probe)
        return BadUsage(Text(IDS_DIAG_FIND_ARGUMENTS, {argv[2]}));
    if (argc > 4)
        return BadUsage(Text(IDS_DIAG_FIND_ARGUMENTS, {argv[4]}));
    const std::string port = argc == 4 ? argv[3] : "";
    return Finder(stdout).Run(probe, port) ? kFound : kNotFound;
}

void WriteReportBody(FILE* out, bool& found)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    char now[32];
    snprintf(now, sizeof now, "%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    fprintf(out, "%s\n", Text(IDS_DIAG_REPORT_TITLE, {VK_VERSION_TEXT, now}).c_str());
    fprintf(out, "%s\n\n", Text(IDS_DIAG_SUPPORT, {SupportContact()}).c_str());
    found = Finder(out).Run(true, "");
    fprintf(out, "\n%s\n", Text(IDS_DIAG_REPORT_KEYMAP).c_str());
    LineWriter lines(out, 0);
    KeyMapReport::Write(SystemFacts::FindDriverFolder().path + "\\kvbrl.ini", "kvbrl.ini", lines);
    fprintf(out, "\n");
    LogTool::WriteTail(out, LogTool::kShownLines);
    fprintf(out, "\n%s\n", Text(IDS_DIAG_REPORT_TRACE).c_str());
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& line : g_traceLines)
        fprintf(out, "%s\n", line.c_str());
}

int Report(int argc, char** argv)
{
    if (argc != 3)
        return BadUsage(Text(IDS_DIAG_REPORT_ARGUMENTS));
    FILE* out = fopen(argv[2], "w");
    bool found = false;
    if (out) {
        // One language for support, whatever the user's.
        tooltext::UseEnglish(true);
        WriteReportBody(out, found);
        tooltext::UseEnglish(false);
    }
    if (!out || fclose(out) != 0) {
        tooltext::Line(stdout, Text(IDS_DIAG_REPORT_NOT_WRITTEN, {argv[2]}));
        return kNoReport;
    }
    tooltext::Line(stdout, Text(IDS_DIAG_REPORT_WRITTEN, {argv[2]}));
    tooltext::Line(stdout, Text(IDS_DIAG_SUPPORT, {SupportContact()}));
    tooltext::Line(stdout, Text(found ? IDS_DIAG_REPORT_ANSWERED : IDS_DIAG_REPORT_NOT_FOUND));
    return found ? kFound : kNotFound;
}

int Log(int argc, char** argv)
{
    const int result = argc == 3 ? LogTool::Run(argv[2], stdout) : kBadUsage;
    return result == kBadUsage ? BadUsage(Text(IDS_DIAG_LOG_ARGUMENTS)) : result;
}

}  // namespace

int main(int argc, char** argv)
{
    SetTraceSink(KeepTrace);
    const std::string command = argc >= 2 ? argv[1] : "";
    int result = kBadUsage;
    if (command == "help" || command == "--help" || command == "-h" || command == "/?") {
        tooltext::Write(stdout, Text(IDS_DIAG_HELP, {VK_VERSION_TEXT}));
        result = kFound;
    } else if (command == "find") {
        result = Find(argc, argv);
    } else if (command == "report") {
        result = Report(argc, argv);
    } else if (command == "log") {
        result = Log(argc, argv);
    } else {
        result = BadUsage(command.empty() ? Text(IDS_DIAG_NO_COMMAND) : Text(IDS_DIAG_UNKNOWN_COMMAND, {command}));
    }
    fflush(stdout);
    return result;
}
