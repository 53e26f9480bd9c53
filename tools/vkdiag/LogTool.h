// `vkdiag log on|off|show`: the user's switch for the driver's log, and the
// end of the log for the user or the report.
#pragma once

#include <cstdio>
#include <string>

class LogTool {
public:
    static const size_t kShownLines = 40;

    // Returns the exit code: 0 done, 1 the switch could not be written, 2 an
    // unknown action.
    static int Run(const std::string& action, FILE* out);
    // Whether the log is on and where it goes, one fact a line.
    static void WriteState(FILE* out);
    // Where the log is and its last lines.
    static void WriteTail(FILE* out, size_t lines);
};
