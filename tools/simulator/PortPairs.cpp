#include "PortPairs.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace portpairs {

namespace {

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

const char* PortsDir()
{
    return getenv("VKTEST_PORTS_DIR");
}

// The word after --pairs (or --pairs=) on this program's command line.
std::string PairsArgument()
{
    const std::string line = GetCommandLineA();
    const char kOption[] = "--pairs";
    size_t at = line.find(kOption);
    if (at == std::string::npos)
        return "";
    at = line.find_first_not_of(" \t=", at + strlen(kOption));
    if (at == std::string::npos)
        return "";
    return line.substr(at, line.find_first_of(" \t\"", at) - at);
}

const std::vector<std::pair<std::string, std::string>>& NamedPairs()
{
    static const std::vector<std::pair<std::string, std::string>> pairs = ParsePairs(PairsArgument());
    return pairs;
}

// Asks the port manager to run one request and waits up to 5 s for it: the
// manager answers in VKTEST_PORTS_DIR/ctl, a host folder seen through Z:.
bool PortRequest(const std::string& request)
{
    if (!CanPull())
        return false;
    std::string ctl = "Z:" + std::string(PortsDir()) + "/ctl/";
    std::replace(ctl.begin(), ctl.end(), '/', '\\');
    const std::string done = ctl + request + ".done";
    DeleteFileA(done.c_str());
    HANDLE h = CreateFileA((ctl + request + ".req").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    for (int i = 0; i < 500 && !FileExists(done); ++i)
        ::Sleep(10);
    return DeleteFileA(done.c_str()) != FALSE;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ParsePairs(const std::string& list)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = std::min(list.find(',', start), list.size());
        const std::string entry = list.substr(start, end - start);
        const size_t colon = entry.find(':');
        if (colon != std::string::npos && colon > 0 && colon + 1 < entry.size())
            pairs.emplace_back(entry.substr(0, colon), entry.substr(colon + 1));
        start = end + 1;
    }
    return pairs;
}

std::string DriverPort(int n)
{
    const auto& named = NamedPairs();
    return n >= 1 && n <= static_cast<int>(named.size()) ? named[n - 1].first : "COM1" + std::to_string(n);
}

std::string DisplayPort(int n)
{
    const auto& named = NamedPairs();
    return n >= 1 && n <= static_cast<int>(named.size()) ? named[n - 1].second : "COM2" + std::to_string(n);
}

int NamedPairCount() { return static_cast<int>(NamedPairs().size()); }

std::string PairsOption()
{
    std::string option;
    for (const auto& pair : NamedPairs())
        option += (option.empty() ? "--pairs " : ",") + pair.first + ":" + pair.second;
    return option;
}

bool CanPull()
{
    const char* dir = PortsDir();
    return dir && *dir;
}

bool UnplugPair(int n) { return PortRequest("unplug-" + std::to_string(n)); }
bool ReplugPair(int n) { return PortRequest("replug-" + std::to_string(n)); }

}  // namespace portpairs
