// What every benchmark prints: one line per figure, with the bound or
// baseline it is measured against in the same run, in a form that
// scripts/bench.sh gathers into one table.
#pragma once

#include "TestEnv.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

// "BENCH|figure|value|unit|against|against value|ratio"
inline void Report(const std::string& figure, double value, const std::string& unit,
                   const std::string& against = "", double againstValue = 0)
{
    const double ratio = againstValue > 0 ? value / againstValue : 0;
    printf("BENCH|%s|%.3f|%s|%s|%.3f|%.3f\n", figure.c_str(), value, unit.c_str(), against.c_str(), againstValue,
           ratio);
    fflush(stdout);
}

// The p-th percentile (0..100) of the samples.
inline double Percentile(std::vector<double> samples, double p)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t index = std::min(samples.size() - 1, static_cast<size_t>(p / 100.0 * (samples.size() - 1) + 0.5));
    return samples[index];
}

// What the process holds. Wine answers 0 for the handle count and the private
// bytes, so there the handles are counted by asking after every handle value
// below 16384, and the memory figure is the committed private memory.
struct Usage {
    double handles = 0;
    double privateKiB = 0;
};

inline DWORD CountHandles()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    if (count != 0)
        return count;
    for (UINT_PTR value = 4; value < 16384; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

inline Usage ProcessUsage()
{
    Usage usage;
    usage.handles = CountHandles();
    usage.privateKiB = static_cast<double>(testenv::PrivateBytes()) / 1024.0;
    return usage;
}

}  // namespace bench
