// What the tests know of their environment: the port pairs of the test
// prefix, unplugging and replugging a pair, loading the built driver.
#pragma once

#include "core/IBrailleDriver.h"

#include <functional>
#include <string>
#include <vector>

namespace testenv {

const int kPairCount = 4;

// COM port of the driver's end of pair n (1..4) and of the display's end.
std::string DriverPort(int n);
std::string DisplayPort(int n);

// Stops pair n's pseudo-terminals (a pulled cable) / starts them again.
void UnplugPair(int n);
void ReplugPair(int n);

// A Unix path of the host as Wine sees it (Z:\...).
std::string WinPath(const std::string& unixPath);
// Folder of the test binaries (and of VK.JLB).
std::string BinDir();
// A fresh empty folder for one test's files.
std::string TempDir(const std::string& name);

// Runs the calling thread's message loop for a while (the driver's key
// callbacks arrive through it, as in the screen reader); observe, when
// given, sees each message before it is dispatched.
void PumpMessages(unsigned long milliseconds, const std::function<void(const MSG&)>& observe = {});

// Pumps with pump(ms) until pred() holds or the time is up; returns pred().
template <typename Pred, typename Pump>
bool PumpUntil(Pred pred, unsigned long timeoutMs, Pump pump)
{
    const DWORD end = GetTickCount() + timeoutMs;
    while (!pred()) {
        if (static_cast<LONG>(end - GetTickCount()) <= 0)
            return pred();
        pump(10);
    }
    return true;
}

template <typename Pred>
bool PumpUntil(Pred pred, unsigned long timeoutMs)
{
    return PumpUntil(pred, timeoutMs, [](unsigned long ms) { PumpMessages(ms); });
}

// Runs a program of the build and waits for it; returns its exit code (-1 when
// it could not start, -2 when it did not end in time) with what it printed to
// its standard output and error, line ends as "\n".
int RunProgram(const std::string& commandLine, std::string& output, unsigned long timeoutMs = 30000);

// The driver as the screen reader gets it: VK.JLB loaded by name.
IBrailleDriver* LoadDriver();

// Collects the driver's trace lines while alive (for code linked into the test).
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    std::vector<std::string> Lines() const;
    bool Contains(const std::string& text) const;
};

}  // namespace testenv
