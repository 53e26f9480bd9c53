// vkdiag: finds the braille display and writes a report for support, one
// fact a line, for a user reading with a screen reader.
#include "Finder.h"
#include "KeyMapReport.h"
#include "LogTool.h"
#include "SystemFacts.h"
#include "Trace.h"
#include "Version.h"
#include "core/CBrailleDisplayDriver.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char kHelp[] =
    "vkdiag " VK_VERSION_TEXT ": finds the Cellivanta VK display and writes a report for support.\n"
    "\n"
    "  vkdiag find                  the COM ports, the display's USB entries, the driver and key map\n"
    "                               installed, whether the log is on\n"
    "  vkdiag find --probe [PORT]   also tries each candidate port (or PORT, or usb) as the driver\n"
    "                               does: the display's answer, its cell count, the time it took;\n"
    "                               a port in use (the screen reader has the display) is not tried\n"
    "  vkdiag report FILE           all of that with --probe, the key map check and the end of the\n"
    "                               log, into FILE to send to support\n"
    "  vkdiag log on|off            the driver's log, from the next time the display is opened\n"
    "  vkdiag log show              where the log is and its last 40 lines\n"
    "\n"
    "Exit codes: 0 display found (and answered, with --probe or report); 1 not found, or the log\n"
    "switch could not be written; 2 bad usage; 3 the report file could not be written.\n";

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

int BadUsage()
{
    fputs(kHelp, stderr);
    return kBadUsage;
}

int Find(int argc, char** argv)
{
    const bool probe = argc >= 3 && std::string(argv[2]) == "--probe";
    if (argc > 4 || (argc >= 3 && !probe))
        return BadUsage();
    const std::string port = argc == 4 ? argv[3] : "";
    return Finder(stdout).Run(probe, port) ? kFound : kNotFound;
}

void WriteReportBody(FILE* out, bool& found)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    fprintf(out, "vkdiag %s report, %04u-%02u-%02u %02u:%02u\n\n", VK_VERSION_TEXT, t.wYear, t.wMonth, t.wDay,
            t.wHour, t.wMinute);
    found = Finder(out).Run(true, "");
    fprintf(out, "\nKey map check:\n");
    LineWriter lines(out, 0);
    KeyMapReport::Write(SystemFacts::ProgramFolder() + "\\kvbrl.ini", "kvbrl.ini", lines);
    fprintf(out, "\n");
    LogTool::WriteTail(out, LogTool::kShownLines);
    fprintf(out, "\nDriver trace while probing:\n");
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& line : g_traceLines)
        fprintf(out, "%s\n", line.c_str());
}

int Report(int argc, char** argv)
{
    if (argc != 3)
        return BadUsage();
    FILE* out = fopen(argv[2], "w");
    if (!out) {
        printf("The report could not be written to %s\n", argv[2]);
        return kNoReport;
    }
    bool found = false;
    WriteReportBody(out, found);
    if (fclose(out) != 0) {
        printf("The report could not be written to %s\n", argv[2]);
        return kNoReport;
    }
    printf("Report written to %s\n", argv[2]);
    printf(found ? "The display answered\n" : "The display was not found\n");
    return found ? kFound : kNotFound;
}

int Log(int argc, char** argv)
{
    if (argc != 3)
        return BadUsage();
    const int result = LogTool::Run(argv[2], stdout);
    return result == kBadUsage ? BadUsage() : result;
}

}  // namespace

int main(int argc, char** argv)
{
    SetTraceSink(KeepTrace);
    const std::string command = argc >= 2 ? argv[1] : "";
    int result = kBadUsage;
    if (command == "--help" || command == "-h" || command == "/?") {
        fputs(kHelp, stdout);
        result = kFound;
    } else if (command == "find") {
        result = Find(argc, argv);
    } else if (command == "report") {
        result = Report(argc, argv);
    } else if (command == "log") {
        result = Log(argc, argv);
    } else {
        result = BadUsage();
    }
    fflush(stdout);
    return result;
}
