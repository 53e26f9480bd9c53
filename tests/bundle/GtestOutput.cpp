#include "GtestOutput.h"

#include <cstdio>
#include <sstream>

// A skipped case prints "file(line): Skipped" and its reason on the next
// line between its RUN and SKIPPED lines; the counts come at the end.
GtestOutput GtestOutput::Read(const std::string& output)
{
    GtestOutput read;
    std::istringstream in(output);
    std::string running, reason;
    bool reasonNext = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        int n = 0;
        if (sscanf(line.c_str(), "[  PASSED  ] %d test", &n) == 1)
            read.passed = n;
        else if (sscanf(line.c_str(), "[  FAILED  ] %d test", &n) == 1)
            read.failed = n;
        else if (sscanf(line.c_str(), "[  SKIPPED ] %d test", &n) == 1)
            read.skipped = n;
        else if (line.rfind("[ RUN      ] ", 0) == 0)
            running = line.substr(13), reason.clear(), reasonNext = false;
        else if (line.size() >= 9 && line.compare(line.size() - 9, 9, ": Skipped") == 0)
            reasonNext = true;
        else if (!running.empty() && line.rfind("[  SKIPPED ] " + running + " (", 0) == 0)
            read.skippedCases.push_back(running + ": " + (reason.empty() ? "(no reason given)" : reason));
        else if (reasonNext && !line.empty())
            reason = line, reasonNext = false;
    }
    return read;
}
