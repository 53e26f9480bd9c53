// The key path without a port pair: a key frame fed to a scripted port,
// whose pending read completes the moment bytes arrive, to the callback on
// the screen reader's thread, through the driver linked in; beside it, the
// same three thread hops with nothing done at each.
//
//   wine build/x86_64/bin/bench_scripted_port.exe [presses]
#include "BenchReport.h"
#include "CBrailleDisplayDriver.h"
#include "DriverEnv.h"
#include "ScriptedSerialPort.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const double kGoalP99Ms = 1.0;
const std::string kInitRequest("\x1B\x00\x00", 3);
const std::string kInitResponse("\x1B\x01\x03\x00\x00\x28", 6);

double NowMs()
{
    static const double perMs = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart / 1000.0;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / perMs;
}

// A routing key pressed and released, as the display sends it.
std::string RoutingPress(int index)
{
    const char code = static_cast<char>(keycode::R(index));
    return std::string("\x1B\x05\x01", 3) + code + std::string("\x1B\x06\x01", 3) + code;
}

// The display answers the handshake from the port's side.
bool OpenOnScriptedPort(CBrailleDisplayDriver& driver, testenv::ScriptedPort& port, RecordingCallbacks& callbacks)
{
    std::atomic<bool> opened{false};
    std::thread display([&] {
        if (testenv::WaitFor([&] { return opened || port.Sent().find(kInitRequest) != std::string::npos; }, 10000,
                             [](DWORD) { Sleep(1); }))
            port.Receive(kInitResponse);
    });
    const BOOL ok = driver.Open("COM7", &callbacks, "Cellivanta VK", "C:\\bench\\VK.JLB");
    opened = true;
    display.join();
    return ok != FALSE;
}

// The same three hops between threads the key takes (port to worker, worker
// to braille thread, braille thread to the window's thread), with nothing
// done at each: what the machine's scheduling costs, measured in the same run.
std::vector<double> PlainHops(int presses)
{
    HANDLE fed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE stored = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const DWORD mainThread = GetCurrentThreadId();
    const UINT kArrived = WM_APP + 1;
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (WaitForSingleObject(fed, INFINITE) == WAIT_OBJECT_0 && !stop)
            SetEvent(stored);
    });
    std::thread forwarder([&] {
        while (WaitForSingleObject(stored, INFINITE) == WAIT_OBJECT_0 && !stop)
            PostThreadMessageA(mainThread, kArrived, 0, 0);
    });
    std::vector<double> hops;
    for (int i = 0; i < presses; ++i) {
        double arrivedAt = 0;
        const double start = NowMs();
        SetEvent(fed);
        testenv::WaitFor([&] { return arrivedAt > 0; }, 2000, [&](DWORD ms) {
            testenv::PumpMessages(ms, [&](const MSG& msg) {
                if (msg.message == kArrived && arrivedAt == 0)
                    arrivedAt = NowMs();
            });
        });
        hops.push_back(arrivedAt - start);
        testenv::PumpMessages(static_cast<DWORD>(5 + rand() % 30));
    }
    stop = true;
    SetEvent(fed);
    SetEvent(stored);
    worker.join();
    forwarder.join();
    CloseHandle(fed);
    CloseHandle(stored);
    return hops;
}

// Posts to the hidden window, counted as they are made.
std::atomic<long> g_posted{0};
BOOL WINAPI CountingPost(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    const BOOL posted = PostMessageA(hWnd, uMsg, wParam, lParam);
    if (posted)
        ++g_posted;
    return posted;
}

// A line sending random bytes flat out at 115200 baud for ten seconds to a
// host that pumps its messages only every 50 ms: the most messages of ours
// that waited in the window's queue at once (posted, not yet taken).
long MostQueuedDuringNoise(testenv::ScriptedPort& port)
{
    const DWORD kBurstMs = 10000, kChunkMs = 10;
    const size_t kBytesPerChunk = 11520 * kChunkMs / 1000;
    CBrailleDisplayDriver::s_postToWindow = CountingPost;
    std::atomic<bool> done{false};
    std::thread line([&] {
        unsigned seed = 7;
        const DWORD start = GetTickCount();
        for (DWORD at = 0; at < kBurstMs; at += kChunkMs) {
            std::string chunk(kBytesPerChunk, '\0');
            for (char& byte : chunk)
                byte = static_cast<char>((seed = seed * 1103515245 + 12345) >> 16);
            port.Receive(chunk);
            testenv::SleepUntil(start, at + kChunkMs);
        }
        done = true;
    });
    long taken = 0, most = 0;
    while (!done) {
        testenv::PumpMessages(1, [&](const MSG& msg) {
            if (msg.hwnd && msg.message >= CBrailleDisplayDriver::WM_DEVICE_BYTE &&
                msg.message <= CBrailleDisplayDriver::WM_PROCESS_KEY_QUEUE) {
                most = std::max(most, g_posted - taken);
                ++taken;
            }
        });
        Sleep(50);  // a host busy between its pumps
    }
    line.join();
    testenv::PumpMessages(500);
    CBrailleDisplayDriver::s_postToWindow = PostMessageA;
    return most;
}

}  // namespace

int main(int argc, char** argv)
{
    const int presses = argc > 1 ? atoi(argv[1]) : 500;
    testenv::ScriptedPort port;
    CBrailleDisplayDriver driver;
    RecordingCallbacks callbacks;
    callbacks.keep = false;
    std::atomic<double> deliveredAt{0};
    std::atomic<int> delivered{0};
    callbacks.onDelivery = [&](const Delivery&) {
        deliveredAt = NowMs();
        ++delivered;
    };
    if (!OpenOnScriptedPort(driver, port, callbacks)) {
        fprintf(stderr, "the driver did not open on the scripted port\n");
        return 1;
    }
    srand(11);
    std::vector<double> latency, handedOver;
    const UINT kProcessKeyQueue = 1037;  // the window's message behind the bytes of a forward
    for (int i = 0; i < presses; ++i) {
        const int before = delivered;
        double queueAt = 0;
        const double fed = NowMs();
        port.Receive(RoutingPress(1 + i % 40));
        const bool came = testenv::WaitFor([&] { return delivered > before; }, 2000, [&](DWORD ms) {
            testenv::PumpMessages(ms, [&](const MSG& msg) {
                if (msg.message == kProcessKeyQueue && queueAt == 0)
                    queueAt = NowMs();
            });
        });
        if (!came) {
            fprintf(stderr, "press %d was not delivered\n", i);
            break;
        }
        latency.push_back(deliveredAt - fed);
        handedOver.push_back(queueAt - fed);
        testenv::PumpMessages(static_cast<DWORD>(5 + rand() % 30));
    }
    const long mostQueued = MostQueuedDuringNoise(port);
    driver.Close();
    const std::vector<double> hops = PlainHops(presses);
    bench::Report("10 s noise burst at 115200 baud, host pumping every 50 ms: most of our messages queued at once",
                  static_cast<double>(mostQueued), "msgs");
    bench::Report("scripted port: keys delivered", static_cast<double>(latency.size()), "keys",
                  "keys pressed", presses);
    bench::Report("scripted port: key frame to callback p50", bench::Percentile(latency, 50), "ms", "goal p99",
                  kGoalP99Ms);
    bench::Report("scripted port: key frame to callback p99, against its goal",
                  bench::Percentile(latency, 99), "ms", "goal", kGoalP99Ms);
    bench::Report("scripted port: key frame to callback max", bench::Percentile(latency, 100), "ms");
    // The transport and the braille thread's forward alone: the rest is the
    // window's thread (assembler, key capture, key map lookup, callback).
    bench::Report("scripted port: key frame to the window's thread p50", bench::Percentile(handedOver, 50),
                  "ms");
    bench::Report("scripted port: key frame to the window's thread p99", bench::Percentile(handedOver, 99),
                  "ms");
    // Beyond the scheduling of its three threads, what the driver adds.
    bench::Report("scripted port: three plain thread hops p99", bench::Percentile(hops, 99), "ms");
    bench::Report("scripted port: driver time p99 (key p99 less the hops' p99), against its goal",
                  std::max(0.0, bench::Percentile(latency, 99) - bench::Percentile(hops, 99)), "ms", "goal",
                  kGoalP99Ms);
    return 0;
}
