#include "LogTool.h"

#include "LogSettings.h"

#include <windows.h>

#include <fstream>
#include <vector>

namespace {

std::vector<std::string> LastLines(const std::string& path, size_t count)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (lines.size() > count)
            lines.erase(lines.begin());
    }
    return lines;
}

}  // namespace

int LogTool::Run(const std::string& action, FILE* out)
{
    if (action == "on" || action == "off") {
        if (!LogSettings::Set(action == "on")) {
            fprintf(out, "The log switch could not be written (HKEY_CURRENT_USER\\%s)\n", LogSettings::kKeyPath);
            return 1;
        }
        fprintf(out, "Log: %s from the next time the screen reader opens the display\n", action.c_str());
        return 0;
    }
    if (action == "show") {
        WriteTail(out, kShownLines);
        return 0;
    }
    return 2;
}

void LogTool::WriteState(FILE* out)
{
    const std::string path = LogSettings::FilePath();
    fprintf(out, "Log: %s\n", LogSettings::IsOn() ? "on" : "off");
    fprintf(out, "Log file: %s\n", path.empty() ? "none (LOCALAPPDATA is not set)" : path.c_str());
}

void LogTool::WriteTail(FILE* out, size_t count)
{
    WriteState(out);
    const std::string path = LogSettings::FilePath();
    if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        fprintf(out, "Log file not written yet\n");
        return;
    }
    const std::vector<std::string> lines = LastLines(path, count);
    fprintf(out, "Last %u lines of the log:\n", static_cast<unsigned>(lines.size()));
    for (const std::string& line : lines)
        fprintf(out, "%s\n", line.c_str());
}
