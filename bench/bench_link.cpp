// How long a changed line takes from DisplayBraille to the display holding
// the whole frame, beside a raw overlapped WriteFile of the same bytes on the
// same port pair, in the same run; and how soon a pulled cable is noticed.
//
//   scripts/test-env.sh start build
//   export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all VKTEST_PORTS_DIR=$PWD/build/ports
//   wine build/x86_64/bin/bench_link.exe [lines]
//   scripts/test-env.sh stop build
#include "BenchReport.h"
#include "DisplaySimulator.h"
#include "TestDisplay.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

const int kPair = 1;
const int kWarmUp = 20;

using Bytes = std::vector<BYTE>;

double Milliseconds(LONGLONG ticks)
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    return ticks * 1000.0 / frequency.QuadPart;
}

LONGLONG Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// A line that differs from the one before it.
Bytes Line(int cells, int index)
{
    Bytes line(cells);
    for (int i = 0; i < cells; ++i)
        line[i] = static_cast<BYTE>(index * 7 + i);
    return line;
}

struct Figures {
    double median = 0;
    double p99 = 0;
    double callMedian = 0;
};

double Percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    size_t at = static_cast<size_t>(fraction * values.size() + 0.999999);
    return values[std::min(values.size(), std::max<size_t>(at, 1)) - 1];
}

// Sends one line with send(line) and returns {send call time, time to the whole frame}.
Figures Measure(DisplaySimulator& sim, int cells, int lines, const std::function<bool(const Bytes&)>& send)
{
    std::vector<double> arrival, call;
    for (int i = -kWarmUp; i < lines; ++i) {
        const Bytes line = Line(cells, i + kWarmUp);
        sim.ClearFrames();
        const LONGLONG start = Now();
        const bool sent = send(line);
        const LONGLONG returned = Now();
        if (!sent || !sim.WaitForFrames(1, 2000)) {
            fprintf(stderr, "line %d did not arrive\n", i);
            exit(1);
        }
        const DisplaySimulator::Frame frame = sim.Frames()[0];
        if (frame.payload != line) {
            fprintf(stderr, "line %d arrived changed\n", i);
            exit(1);
        }
        if (i >= 0) {
            arrival.push_back(Milliseconds(frame.counter - start));
            call.push_back(Milliseconds(returned - start));
        }
    }
    return {Percentile(arrival, 0.5), Percentile(arrival, 0.99), Percentile(call, 0.5)};
}

Figures ThroughTheDriver(DisplaySimulator& sim, int cells, int lines)
{
    sim.SetInitResponse(0, 0, static_cast<BYTE>(cells));
    TestDisplay display;
    if (!display.ConnectTo(testenv::DriverPort(kPair).c_str()) || !display.Handshake()) {
        fprintf(stderr, "no handshake on %s\n", testenv::DriverPort(kPair).c_str());
        exit(1);
    }
    const Figures figures = Measure(sim, cells, lines, [&](const Bytes& line) {
        return display.DisplayBraille(line.data(), static_cast<int>(line.size()));
    });
    display.Disconnect();
    return figures;
}

bool RawWrite(HANDLE port, const Bytes& bytes)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL ok = WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = TRUE;
    ok = ok && GetOverlappedResult(port, &overlapped, &written, TRUE);
    CloseHandle(overlapped.hEvent);
    return ok && written == bytes.size();
}

Figures RawWriteFile(DisplaySimulator& sim, int cells, int lines)
{
    const std::string path = "\\\\.\\" + testenv::DriverPort(kPair);
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open %s\n", path.c_str());
        exit(1);
    }
    const Figures figures = Measure(sim, cells, lines, [&](const Bytes& line) {
        Bytes frame{0x1B, 0x02, static_cast<BYTE>(cells)};
        frame.insert(frame.end(), line.begin(), line.end());
        return RawWrite(port, frame);
    });
    CloseHandle(port);
    return figures;
}

void Report(int cells, const Figures& driver, const Figures& raw)
{
    const std::string line = std::to_string(cells) + "-cell line";
    bench::Report("DisplayBraille of a changed " + line + " to whole frame, median", driver.median, "ms",
                  "raw WriteFile, median", raw.median);
    bench::Report("DisplayBraille of a changed " + line + " to whole frame, p99", driver.p99, "ms",
                  "raw WriteFile, p99", raw.p99);
}

// The cable pulled under a connected display: how long from the pair gone
// (the pull request answered) until the transport marks the link lost; 0
// when it already had. The request's own round trip is printed beside it.
void PulledCable(DisplaySimulator& sim, int pulls)
{
    const double kGiveUpMs = 3000;
    std::vector<double> noticed, request;
    for (int i = 0; i < pulls; ++i) {
        TestDisplay display;
        if (!display.ConnectTo(testenv::DriverPort(kPair).c_str())) {
            fprintf(stderr, "cannot connect to %s\n", testenv::DriverPort(kPair).c_str());
            exit(1);
        }
        const LONGLONG start = Now();
        sim.Vanish();
        const LONGLONG pulled = Now();
        while (!display.IsLinkLost() && Milliseconds(Now() - pulled) < kGiveUpMs)
            Sleep(1);
        if (display.IsLinkLost())
            noticed.push_back(Milliseconds(Now() - pulled));
        request.push_back(Milliseconds(pulled - start));
        display.Disconnect();
        sim.Return();
    }
    bench::Report("pulled cable: pulls noticed by the transport within 3 s", static_cast<double>(noticed.size()),
                  "pulls", "pulls", pulls);
    bench::Report("pulled cable to link marked lost, median", bench::Percentile(noticed, 50), "ms", "goal", 100);
    bench::Report("pulled cable to link marked lost, max", bench::Percentile(noticed, 100), "ms", "goal", 100);
    bench::Report("pulled cable: the pull request itself, median", bench::Percentile(request, 50), "ms");
}

}  // namespace

int main(int argc, char** argv)
{
    const int lines = argc > 1 ? atoi(argv[1]) : 1000;
    DisplaySimulator sim(kPair);
    if (!sim.IsOpen()) {
        fprintf(stderr, "cannot open %s: start the test environment first\n", testenv::DisplayPort(kPair).c_str());
        return 1;
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);  // as the braille thread runs
    for (int cells : {40, 80}) {
        const Figures driver = ThroughTheDriver(sim, cells, lines);
        Report(cells, driver, RawWriteFile(sim, cells, lines));
    }
    PulledCable(sim, 20);
    return 0;
}
