// The driver as the screen reader uses it, measured end to end through the
// loaded VK.JLB and the display simulator on a pseudo-terminal pair; a
// display that stops reading is played by the scripted port, with the
// driver linked in.
#include "BenchReport.h"
#include "CBrailleDisplayDriver.h"
#include "DisplaySimulator.h"
#include "DriverEnv.h"
#include "ScriptedSerialPort.h"
#include "LogSettings.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// How often the driver looks for a lost display.
const double kRetryPeriodMs = 2000;

// A line of its own for every n below 65536.
std::string Line(int n, int width)
{
    std::string cells(static_cast<size_t>(width), '\0');
    for (int i = 0; i < width; ++i)
        cells[static_cast<size_t>(i)] = static_cast<char>((n * 7 + i) & 0xFF);
    cells[0] = static_cast<char>(n & 0xFF);
    cells[1] = static_cast<char>(n >> 8);
    return cells;
}

double CpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](FILETIME t) { return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e4; };
    return ms(kernel) + ms(user);
}

class DriverBench {
public:
    DriverBench() : m_driver(testenv::LoadDriver()), m_display(1) {}
    bool Ready() const { return m_driver && m_display.IsOpen(); }

    bool Open()
    {
        return m_driver->Open(testenv::DriverPort(1).c_str(), &m_callbacks, "Cellivanta VK", "C:\\VK\\VK.JLB");
    }

    void OpenTime()
    {
        std::vector<double> samples;
        for (int i = 0; i < 5; ++i) {
            testenv::Stopwatch watch;
            if (!Open())
                return;
            samples.push_back(watch.Ms());
            m_driver->Close();
        }
        bench::Report("Open on a good port (median of 5)", bench::Percentile(samples, 50), "ms",
                      "floor 1000 + 200 ms", 1200);
    }

    void ShowTextCost()
    {
        Open();
        std::vector<double> calls, wire;
        for (int i = 0; i < 1000; ++i) {
            const std::string cells = Line(i, 40);
            const size_t before = m_display.FrameCount();
            testenv::Stopwatch watch;
            m_driver->ShowText(cells.data(), 40);
            calls.push_back(watch.Us());
            if (!m_display.WaitForFrames(before + 1, 2000))
                break;
            wire.push_back(watch.Ms());
        }
        bench::Report("ShowText call, median", bench::Percentile(calls, 50), "us");
        bench::Report("ShowText call, p99", bench::Percentile(calls, 99), "us");
        const double raw = RawWriteMs();
        bench::Report("ShowText to whole frame at the display, median", bench::Percentile(wire, 50), "ms",
                      "raw WriteFile of 43 bytes, median", raw);
        bench::Report("ShowText to whole frame at the display, p99", bench::Percentile(wire, 99), "ms",
                      "raw WriteFile of 43 bytes, median", raw);
        m_driver->Close();
    }

    void Burst()
    {
        Open();
        m_display.ClearFrames();
        testenv::Stopwatch watch;
        for (int i = 0; i < 1000; ++i) {
            const std::string cells = Line(i, 40);
            m_driver->ShowText(cells.data(), 40);
        }
        const std::string last = Line(999, 40);
        double drained = 0;
        testenv::WaitFor([&] {
            const auto frames = m_display.Frames();
            if (frames.empty() || std::string(frames.back().payload.begin(), frames.back().payload.end()) != last)
                return false;
            drained = watch.Ms();
            return true;
        }, 30000, [](DWORD) { Sleep(1); });
        bench::Report("burst of 1000 lines: frames on the wire", static_cast<double>(m_display.FrameCount()),
                      "frames", "lines given", 1000);
        bench::Report("burst of 1000 lines: time until the last line is shown", drained, "ms");
        m_driver->Close();
    }

    // Key press to delivery, for each of `presses` T1 presses at a typing
    // pace; delivered, when given, counts every key that came.
    std::vector<double> KeyLatencies(int presses, size_t* delivered = nullptr)
    {
        std::vector<double> pressed;
        m_callbacks.Clear();
        for (int i = 0; i < presses; ++i) {
            m_display.KeyDown(keycode::T1);
            testenv::PumpMessages(5);
            pressed.push_back(m_callbacks.clock.Ms());
            m_display.KeyUp(keycode::T1);
            testenv::PumpMessages(static_cast<DWORD>(60 + rand() % 240));
        }
        testenv::PumpMessages(300);
        const std::vector<Delivery> arrivals = m_callbacks.Deliveries();
        if (delivered)
            *delivered = arrivals.size();
        std::vector<double> latency;
        for (size_t i = 0; i < pressed.size() && i < arrivals.size(); ++i)
            latency.push_back(arrivals[i].ms - pressed[i]);
        return latency;
    }

    void KeyLatency()
    {
        Open();
        srand(7);
        size_t delivered = 0;
        const std::vector<double> latency = KeyLatencies(200, &delivered);
        bench::Report("keys delivered", static_cast<double>(delivered), "keys", "keys pressed",
                      200);
        for (double p : {50.0, 95.0, 99.0, 100.0})
            bench::Report("key latency p" + std::to_string(static_cast<int>(p)), bench::Percentile(latency, p), "ms",
                          "one poll period", 100);
        // Keys are forwarded as soon as they arrive, not at the next poll.
        bench::Report("key latency p50, against its goal", bench::Percentile(latency, 50), "ms", "goal", 2);
        bench::Report("key latency p99, against its goal", bench::Percentile(latency, 99), "ms", "goal", 6);
        m_driver->Close();
    }

    // The same presses with the user's log off and on, in alternate rounds
    // so that a slow spell of the machine falls on both; the log goes to a
    // scratch folder, and the switch is removed afterwards.
    void LogCost()
    {
        const std::string appData = testenv::FreshDir("bench-appdata");
        SetEnvironmentVariableA("LOCALAPPDATA", appData.c_str());
        std::vector<double> off, on;
        srand(11);
        for (int round = 0; round < 4; ++round) {
            const bool logOn = round % 2 == 1;
            LogSettings::Set(logOn);
            Open();  // the driver reads the switch here
            const std::vector<double> latency = KeyLatencies(100);
            (logOn ? on : off).insert((logOn ? on : off).end(), latency.begin(), latency.end());
            m_driver->Close();
        }
        LogSettings::Set(false);
        Open();
        m_driver->Close();
        RegDeleteKeyValueA(HKEY_CURRENT_USER, LogSettings::kKeyPath, LogSettings::kValueName);
        RegDeleteKeyA(HKEY_CURRENT_USER, LogSettings::kKeyPath);
        testenv::RemoveTree(appData);
        for (double p : {50.0, 95.0})
            bench::Report("key latency p" + std::to_string(static_cast<int>(p)) + " with the log on",
                          bench::Percentile(on, p), "ms", "log off", bench::Percentile(off, p));
    }

    void IdleCpu()
    {
        Open();
        const double cpuBefore = CpuMs();
        testenv::Stopwatch watch;
        testenv::PumpMessages(30000);
        const double share = 100.0 * (CpuMs() - cpuBefore) / watch.Ms();
        bench::Report("CPU of an open, idle driver over 30 s (whole process)", share, "%", "one core", 100);
        m_driver->Close();
    }

    // The cable pulled, a new line given, the cable plugged back at a random
    // moment of the driver's retry period: how long until the display shows
    // the newest line, with no call from the screen reader.
    void Reconnect()
    {
        if (!Open())
            return;
        srand(11);
        std::vector<double> samples;
        for (int i = 0; i < 20; ++i) {
            m_display.Vanish();
            const std::string line = Line(1000 + i, 40);
            m_driver->ShowText(line.data(), 40);
            testenv::PumpMessages(static_cast<DWORD>(300 + rand() % 2000));
            m_display.ClearFrames();
            m_display.Return();
            testenv::Stopwatch watch;
            const bool back = testenv::PumpUntil(
                [&] {
                    for (const auto& frame : m_display.Frames())
                        if (frame.id == 2 && std::string(frame.payload.begin(), frame.payload.end()) == line)
                            return true;
                    return false;
                },
                15000);
            if (back)
                samples.push_back(watch.Ms());
        }
        m_driver->Close();
        const double floor = kRetryPeriodMs + 1200;
        bench::Report("reconnections that showed the newest line", static_cast<double>(samples.size()), "of",
                      "cycles", 20);
        bench::Report("port back to the newest line at the display, median", bench::Percentile(samples, 50), "ms",
                      "retry period + handshake", floor);
        bench::Report("port back to the newest line at the display, max", bench::Percentile(samples, 100), "ms",
                      "retry period + handshake", floor);
    }

    // The platform keeps memory for the first windows and threads a process
    // makes; a round of 20 cycles before the baseline takes that out.
    void Cycles()
    {
        auto openClose = [this](int n) {
            for (int i = 0; i < n; ++i) {
                Open();
                m_driver->Close();
            }
        };
        auto sleepWake = [this](int n) {
            for (int i = 0; i < n; ++i) {
                m_driver->Sleep(TRUE);
                m_driver->Sleep(FALSE);
            }
        };
        openClose(20);
        const bench::Usage before = bench::ProcessUsage();
        openClose(200);
        const bench::Usage afterOpen = bench::ProcessUsage();
        Open();
        sleepWake(20);
        const bench::Usage beforeSleep = bench::ProcessUsage();
        sleepWake(200);
        const bench::Usage afterSleep = bench::ProcessUsage();
        m_driver->Close();
        bench::Report("handles after 200 open/close", afterOpen.handles, "handles", "before", before.handles);
        bench::Report("private bytes after 200 open/close", afterOpen.privateKiB, "KiB", "before",
                      before.privateKiB);
        bench::Report("handles after 200 sleep/wake", afterSleep.handles, "handles", "before", beforeSleep.handles);
        bench::Report("private bytes after 200 sleep/wake", afterSleep.privateKiB, "KiB", "before",
                      beforeSleep.privateKiB);
    }

    // Sleep(TRUE) while the display reads nothing (its writes stay pending
    // until cancelled) and the screen reader has given 1000 lines.
    void StuckSleep()
    {
        std::vector<double> samples;
        for (int round = 0; round < 5; ++round) {
            testenv::ScriptedPort port;
            CBrailleDisplayDriver driver;
            std::thread display([&port] {
                testenv::WaitFor([&] { return port.Sent().find("\x1B\x00\x00", 0, 3) != std::string::npos; }, 5000);
                port.Receive({0x1B, 0x01, 0x03, 0x00, 0x00, 40});
            });
            const BOOL opened = driver.Open("COM9", &m_callbacks, "Cellivanta VK", "C:\\VK\\VK.JLB");
            display.join();
            if (!opened)
                return;
            port.writesStall = true;
            for (int i = 0; i < 1000; ++i)
                driver.ShowText(Line(i, 40).data(), 40);
            testenv::Stopwatch watch;
            driver.Sleep(TRUE);
            samples.push_back(watch.Ms());
            port.writesStall = false;
            driver.Close();
        }
        bench::Report("Sleep(TRUE), display stuck, 1000 lines given, median of 5", bench::Percentile(samples, 50),
                      "ms", "goal", 1000);
        bench::Report("Sleep(TRUE), display stuck, 1000 lines given, max of 5", bench::Percentile(samples, 100),
                      "ms", "goal", 1000);
    }

private:
    // The same 43 bytes written straight to the port of another pair.
    double RawWriteMs()
    {
        DisplaySimulator peer(2);
        HANDLE port = CreateFileA(("\\\\.\\" + testenv::DriverPort(2)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (port == INVALID_HANDLE_VALUE)
            return 0;
        std::vector<double> samples;
        std::vector<BYTE> frame = {0x1B, 0x02, 40};
        frame.resize(43, 0x11);
        for (int i = 0; i < 200; ++i) {
            frame[3] = static_cast<BYTE>(i);
            const size_t before = peer.FrameCount();
            OVERLAPPED ov{};
            ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            testenv::Stopwatch watch;
            DWORD written = 0;
            if (!WriteFile(port, frame.data(), 43, &written, &ov))
                GetOverlappedResult(port, &ov, &written, TRUE);
            peer.WaitForFrames(before + 1, 2000);
            samples.push_back(watch.Ms());
            CloseHandle(ov.hEvent);
        }
        CloseHandle(port);
        return bench::Percentile(samples, 50);
    }

    IBrailleDriver* m_driver;
    DisplaySimulator m_display;
    RecordingCallbacks m_callbacks;
};

}  // namespace

// bench_driver [--quick] [NAME...]: every figure, or those of the parts named
// (open, showtext, burst, keys, idle, cycles, reconnect, stuck, log); --quick leaves out the 30 s idle figure.
int main(int argc, char** argv)
{
    bool quick = false;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick")
            quick = true;
        else
            only.push_back(arg);
    }
    DriverBench bench;
    if (!bench.Ready()) {
        fprintf(stderr, "cannot load VK.JLB or open the display's port\n");
        return 1;
    }
    const std::vector<std::pair<std::string, void (DriverBench::*)()>> parts = {
        {"open", &DriverBench::OpenTime}, {"showtext", &DriverBench::ShowTextCost}, {"burst", &DriverBench::Burst},
        {"keys", &DriverBench::KeyLatency}, {"idle", &DriverBench::IdleCpu},     {"cycles", &DriverBench::Cycles},
        {"reconnect", &DriverBench::Reconnect}, {"stuck", &DriverBench::StuckSleep},
        {"log", &DriverBench::LogCost}};
    for (const auto& part : parts) {
        if ((only.empty() && !(quick && part.first == "idle")) ||
            std::find(only.begin(), only.end(), part.first) != only.end())
            (bench.*part.second)();
    }
    return 0;
}
