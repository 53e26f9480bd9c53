// The key map check as a user reads it, one finding a line and a summary;
// `vkkeys check` prints it and `vkdiag report` puts it into its report.
#pragma once

#include "LineWriter.h"

#include <string>

class KeyMapReport {
public:
    // Checks the file at path, naming it shownName; returns the error count.
    static int Write(const std::string& path, const std::string& shownName, LineWriter& out);
};
