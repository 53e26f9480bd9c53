// soak_driver [SECONDS]: the driver under a long random session against the
// display simulator: lines of text, key combinations, clears, sleep and wake,
// the cable pulled and plugged back, the driver closed, unloaded, loaded and
// opened again.
// At the end every key pressed must have been delivered, in order, and the
// process's handles and private bytes must not have grown.
#include "BenchReport.h"
#include "DisplaySimulator.h"
#include "DriverEnv.h"

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

// Heap that a long run may settle into without it being a leak.
const double kMemoryToleranceKiB = 1024;
// Handles that come and go with the simulator's own reading and writing.
const double kHandleTolerance = 4;

// Checks each delivery against the keys pressed, oldest first, keeping no
// history (the soak must not grow by itself).
class KeyCheck {
public:
    explicit KeyCheck(RecordingCallbacks& callbacks)
    {
        callbacks.keep = false;
        callbacks.onDelivery = [this](const Delivery& d) {
            Check(d.name + (d.routing ? " " + std::to_string(d.routing) : ""));
        };
    }

    void Expect(const std::string& key) { expected.push_back(key); ++pressed; }

    std::deque<std::string> expected;
    double pressed = 0, delivered = 0, wrong = 0;

private:
    void Check(const std::string& key)
    {
        ++delivered;
        if (expected.empty() || expected.front() != key)
            ++wrong;
        if (!expected.empty())
            expected.pop_front();
    }
};

class Soak {
public:
    Soak() : m_driver(testenv::LoadDriver()), m_display(1), m_check(m_callbacks), m_random(2026) {}

    bool Run(DWORD seconds)
    {
        if (!m_driver || !m_display.IsOpen() || !OpenDriver())
            return false;
        for (int i = 0; i < 100; ++i)  // settle the heap before the baseline
            Step();
        testenv::PumpMessages(500);
        const bench::Usage start = bench::ProcessUsage();
        const DWORD end = GetTickCount() + seconds * 1000;
        DWORD nextNote = GetTickCount() + 60000;
        while (static_cast<LONG>(end - GetTickCount()) > 0 && m_failedReloads == 0) {
            Step();
            if (static_cast<LONG>(GetTickCount() - nextNote) >= 0) {
                const bench::Usage now = bench::ProcessUsage();
                printf("soak: %.0f keys so far, %.0f handles, private %.0f KiB\n", m_check.pressed,
                       now.handles, now.privateKiB);
                fflush(stdout);
                nextNote += 60000;
            }
        }
        testenv::PumpMessages(500);
        const bench::Usage finish = bench::ProcessUsage();
        m_driver->Close();
        Report(start, finish);
        return m_check.wrong == 0 && m_check.expected.empty() && m_lostPulls == 0 && m_failedReloads == 0 &&
               finish.handles <= start.handles + kHandleTolerance &&
               finish.privateKiB < start.privateKiB + kMemoryToleranceKiB;
    }

private:
    // No key map beside this driver name: keys arrive under their own names.
    bool OpenDriver()
    {
        return m_driver->Open(testenv::DriverPort(1).c_str(), &m_callbacks, "Cellivanta VK", "C:\\soak\\VK.JLB");
    }

    void Step()
    {
        const int dice = static_cast<int>(m_random() % 100);
        if (dice < 55)
            ShowRandomLine();
        else if (dice < 90)
            PressRandomKeys();
        else if (dice < 94)
            m_driver->Clear();
        else if (dice < 96)
            PullAndPlug();
        else if (dice < 98)
            SleepAndWake();
        else
            Reload();
        ++m_steps;
        m_display.ClearFrames();  // the simulator's records are not the driver's memory
        m_display.ClearReceivedBytes();
        testenv::PumpMessages(static_cast<DWORD>(20 + m_random() % 80));
    }

    void ShowRandomLine()
    {
        std::string cells(static_cast<size_t>(1 + m_random() % 40), '\0');
        for (char& c : cells)
            c = static_cast<char>(m_random() & 0xFF);
        m_driver->ShowText(cells.data(), static_cast<int>(cells.size()));
        ++m_lines;
    }

    void PressRandomKeys()
    {
        switch (m_random() % 4) {
        case 0: {
            const int index = 1 + static_cast<int>(m_random() % 40);
            m_display.Press({keycode::R(index)});
            m_check.Expect("Routing " + std::to_string(index));
            break;
        }
        case 1:
            m_display.Press({keycode::T1, keycode::D2});
            m_check.Expect("D2+T1");
            break;
        case 2:
            m_display.Press({keycode::D1});  // dot 1: a
            m_check.Expect("a");
            break;
        default:
            m_display.Press({keycode::D1, keycode::D2});  // dots 1 2: b
            m_check.Expect("b");
            break;
        }
        ++m_keys;
    }

    void SleepAndWake()
    {
        testenv::PumpMessages(300);  // keys already pressed are delivered before the window goes
        m_driver->Sleep(TRUE);
        testenv::PumpMessages(static_cast<DWORD>(50 + m_random() % 200));
        m_driver->Sleep(FALSE);
        ++m_sleeps;
    }

    // The cable pulled at a random moment, a line given meanwhile, the cable
    // plugged back: the driver comes back by itself before keys go on.
    void PullAndPlug()
    {
        testenv::PumpMessages(300);  // keys already pressed are delivered first
        m_display.Vanish();
        testenv::PumpMessages(static_cast<DWORD>(m_random() % 1500));
        ShowRandomLine();
        testenv::PumpMessages(static_cast<DWORD>(m_random() % 1500));
        m_display.ClearFrames();
        m_display.Return();
        if (testenv::PumpUntil([&] { return m_display.FrameCount() >= 2; }, 15000))
            ++m_pulls;
        else
            ++m_lostPulls;
    }

    // The screen reader switches displays or settings: it closes the driver,
    // unloads it, loads it again and opens it. Nothing may keep the library
    // loaded in between.
    void Reload()
    {
        testenv::PumpMessages(300);  // keys already pressed are delivered first
        m_driver->Close();
        FreeLibrary(GetModuleHandleA("VK.JLB"));
        const bool unloaded = GetModuleHandleA("VK.JLB") == nullptr;
        m_driver = testenv::LoadDriver();
        if (unloaded && m_driver && OpenDriver())
            ++m_reloads;
        else
            ++m_failedReloads;
    }

    void Report(const bench::Usage& start, const bench::Usage& finish)
    {
        bench::Report("soak: steps", m_steps, "steps");
        bench::Report("soak: lines shown", m_lines, "lines");
        bench::Report("soak: sleep/wake cycles", m_sleeps, "cycles");
        bench::Report("soak: cable pulls the driver came back from", m_pulls, "pulls", "pulls",
                      m_pulls + m_lostPulls);
        bench::Report("soak: reloads of the driver", m_reloads, "reloads", "reloads", m_reloads + m_failedReloads);
        bench::Report("soak: keys delivered", m_check.delivered, "keys", "keys pressed", m_check.pressed);
        bench::Report("soak: keys delivered out of order or wrong", m_check.wrong, "keys");
        bench::Report("soak: handles at the end", finish.handles, "handles", "at the start", start.handles);
        // A handle left behind by each pull shows here long before it shows in the total.
        bench::Report("soak: handles gained per cable pull", (finish.handles - start.handles) / std::max(1.0, m_pulls),
                      "handles");
        bench::Report("soak: private bytes at the end", finish.privateKiB, "KiB", "at the start", start.privateKiB);
    }

    IBrailleDriver* m_driver;
    DisplaySimulator m_display;
    RecordingCallbacks m_callbacks;
    KeyCheck m_check;
    std::mt19937 m_random;
    double m_steps = 0, m_lines = 0, m_keys = 0, m_sleeps = 0, m_pulls = 0, m_lostPulls = 0;
    double m_reloads = 0, m_failedReloads = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    const DWORD seconds = argc > 1 ? static_cast<DWORD>(atoi(argv[1])) : 600;
    Soak soak;
    const bool ok = soak.Run(seconds);
    printf("soak %s\n", ok ? "PASSED: every key delivered in order" : "FAILED");
    return ok ? 0 : 1;
}
