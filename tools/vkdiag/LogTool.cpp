#include "LogTool.h"

#include "LogSettings.h"
#include "ToolText.h"
#include "VkdiagTexts.h"

#include <windows.h>

#include <fstream>
#include <vector>

namespace {

using tooltext::Text;

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
            tooltext::Line(out, Text(IDS_DIAG_LOG_SWITCH_FAILED, {LogSettings::kKeyPath}));
            return 1;
        }
        tooltext::Line(out, Text(action == "on" ? IDS_DIAG_LOG_TURNED_ON : IDS_DIAG_LOG_TURNED_OFF));
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
    tooltext::Line(out, Text(LogSettings::IsOn() ? IDS_DIAG_LOG_ON : IDS_DIAG_LOG_OFF));
    tooltext::Line(out, path.empty() ? Text(IDS_DIAG_LOG_FILE_NONE) : Text(IDS_DIAG_LOG_FILE, {path}));
}

void LogTool::WriteTail(FILE* out, size_t count)
{
    WriteState(out);
    const std::string path = LogSettings::FilePath();
    if (path.empty() || GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        tooltext::Line(out, Text(IDS_DIAG_LOG_NOT_WRITTEN));
        return;
    }
    const std::vector<std::string> lines = LastLines(path, count);
    tooltext::Line(out, Text(IDS_DIAG_LOG_LAST_LINES, {std::to_string(lines.size())}));
    for (const std::string& line : lines)
        tooltext::Line(out, line);
}
