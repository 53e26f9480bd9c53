#include "PortPairs.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace portpairs {

namespace {

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Asks the port manager to run one request and waits up to 5 s for it: the
// manager answers in VKTEST_PORTS_DIR/ctl, a host folder seen through Z:.
bool PortRequest(const std::string& request)
{
    const char* dir = getenv("VKTEST_PORTS_DIR");
    std::string ctl = "Z:" + std::string(dir ? dir : "") + "/ctl/";
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

std::string DriverPort(int n) { return "COM1" + std::to_string(n); }
std::string DisplayPort(int n) { return "COM2" + std::to_string(n); }

bool UnplugPair(int n) { return PortRequest("unplug-" + std::to_string(n)); }
bool ReplugPair(int n) { return PortRequest("replug-" + std::to_string(n)); }

}  // namespace portpairs
