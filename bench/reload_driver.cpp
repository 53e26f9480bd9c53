// reload_driver CYCLE [COUNT]: one of the screen reader's ways of loading
// and letting go of VK.JLB, repeated COUNT times (default 1000) in one
// process, through the library's interface only:
//
//   load         LoadLibrary, GetBrailleInterface, FreeLibrary
//   missing      ... Open on a port that does not exist, Close, FreeLibrary
//   silent       ... Open on a port where no display answers, Close, FreeLibrary
//   display      ... Open on the display, a line shown, Close, FreeLibrary
//   crossthread  Open on a thread that goes on, Close and FreeLibrary on another
//   threadgone   Open on a thread that has ended since, Close and FreeLibrary
//   abandon      Open on the display, a line, FreeLibrary without Close; the
//                session must go on (a key still arrives), the next Open ends it
//   log          display, with the user's log on
//
// After every cycle (but an abandoned one) the library must be unloaded. It
// prints the process's handles, threads, private memory and the first free
// thread-local storage slot after the first and the last cycle, and fails
// when any of them grew.
#include "BenchReport.h"
#include "DisplaySimulator.h"
#include "DriverEnv.h"
#include "DriverSession.h"
#include "LogSettings.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <thread>

namespace {

const char kLibrary[] = "VK.JLB";
const double kHandleTolerance = 4;      // the simulator's own reads and writes come and go
// Memory the process settles into after the first cycle, whatever the count
// of cycles: Wine's heap for the threads and windows of a session (5.4 MiB
// measured after 10 and after 40 cycles of an opening thread that ends), and
// about 4 KiB a cycle that any library built this way costs Wine's loader
// (an empty one too). A library image kept per cycle (0.8 MiB) soon exceeds it.
const double kMemoryToleranceKiB = 8192;

struct Figures {
    double handles, threads, privateKiB, tlsSlot;
};

// The lowest slot TlsAlloc hands out: it rises when a load takes a slot for good.
double FirstFreeTlsSlot()
{
    const DWORD slot = TlsAlloc();
    TlsFree(slot);
    return slot;
}

Figures Measure()
{
    const bench::Usage usage = bench::ProcessUsage();
    return {usage.handles, static_cast<double>(ThreadCountOfProcess()), usage.privateKiB, FirstFreeTlsSlot()};
}

class Cycles {
public:
    explicit Cycles(const std::string& kind) : m_kind(kind) {}
    ~Cycles() { LogSettings::Set(false); }
    Cycles(const Cycles&) = delete;
    Cycles& operator=(const Cycles&) = delete;

    // False with the reason printed when a cycle went wrong.
    bool Run(int count)
    {
        const std::map<std::string, std::function<bool()>> cycles = {
            {"load", [this] { return Load() && Free(); }},
            {"missing", [this] { return Load() && !OpenOn("COM99") && CloseAndFree(); }},
            {"silent", [this] { return Load() && !OpenOn(testenv::DriverPort(2)) && CloseAndFree(); }},
            {"display", [this] { return ShowOnDisplay() && CloseAndFree(); }},
            {"log", [this] { return ShowOnDisplay() && CloseAndFree(); }},
            {"crossthread", [this] { return OpenOnAnotherThread(true); }},
            {"threadgone", [this] { return OpenOnAnotherThread(false); }},
            {"abandon", [this] { return ShowOnDisplay() && Abandon(); }},
        };
        const auto cycle = cycles.find(m_kind);
        if (cycle == cycles.end())
            return Fail("no such cycle");
        SwitchLog(m_kind == "log");
        Figures first{};
        for (int i = 1; i <= count; ++i) {
            m_cycle = i;
            if (!cycle->second())
                return false;
            if (i == 1)
                first = Measure();
        }
        if (m_kind == "abandon" && !(Load() && CloseAndFree()))
            return false;
        const Figures last = Measure();
        Report(first, last);
        return Settled(first, last);
    }

private:
    bool Fail(const char* what)
    {
        printf("cycle %d of %s: %s\n", m_cycle, m_kind.c_str(), what);
        fflush(stdout);
        return false;
    }

    bool Load()
    {
        m_module = LoadLibraryA(kLibrary);
        auto get = m_module ? reinterpret_cast<PFN_GetBrailleInterface>(
                                  reinterpret_cast<void*>(GetProcAddress(m_module, "GetBrailleInterface")))
                            : nullptr;
        if (!get)
            return Fail("LoadLibrary or GetBrailleInterface failed");
        get(&m_driver);
        return true;
    }

    // Nothing of the library may be left running once the host lets go of it.
    bool Free()
    {
        FreeLibrary(m_module);
        m_driver = nullptr;
        if (!testenv::WaitFor([] { return GetModuleHandleA(kLibrary) == nullptr; }, 5000))
            return Fail("the library stays loaded after FreeLibrary");
        return true;
    }

    bool CloseAndFree()
    {
        m_driver->Close();
        return Free();
    }

    bool OpenOn(const std::string& port)
    {
        return m_driver->Open(port.c_str(), &m_callbacks, "Cellivanta VK", "C:\\reload\\VK.JLB") != FALSE;
    }

    bool Display()
    {
        if (!m_display)
            m_display = std::make_unique<DisplaySimulator>(1);
        return m_display->IsOpen() || Fail("the display simulator did not start");
    }

    bool ShowOnDisplay()
    {
        if (!Display() || !Load())
            return false;
        if (!OpenOn(testenv::DriverPort(1)))
            return Fail("Open on the display failed");
        m_display->ClearFrames();
        const char cells[] = {0x01, 0x03, 0x09};
        m_driver->ShowText(cells, sizeof cells);
        if (!testenv::PumpUntil([&] { return m_display->FrameCount() > 0; }, 5000))
            return Fail("the line never reached the display");
        return true;
    }

    // The opening thread either pumps until the host has closed, or ends at once.
    bool OpenOnAnotherThread(bool stays)
    {
        if (!Display() || !Load())
            return false;
        bool opened = false;
        HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread opener([&] {
            opened = OpenOn(testenv::DriverPort(1));
            SetEvent(done);
            while (stays && WaitForSingleObject(closed, 0) == WAIT_TIMEOUT)
                testenv::PumpMessages(20);
        });
        WaitForSingleObject(done, INFINITE);
        if (!stays)
            opener.join();
        const bool ok = opened || Fail("Open on the other thread failed");
        m_driver->Close();
        SetEvent(closed);
        if (stays)
            opener.join();
        CloseHandle(closed);
        CloseHandle(done);
        return ok && Free();
    }

    // The host lets go without Close: the session lives on and still
    // delivers keys to the callbacks it was given; the next Open ends it.
    bool Abandon()
    {
        m_callbacks.Clear();
        FreeLibrary(m_module);
        m_driver = nullptr;
        if (!GetModuleHandleA(kLibrary))
            return Fail("the library was unloaded under its own session");
        m_display->Press({keycode::T1});
        if (!testenv::PumpUntil([&] { return !m_callbacks.Deliveries().empty(); }, 5000))
            return Fail("the abandoned session lost a key");
        return true;
    }

    // The user's log goes to a folder of this run's; it is off again at the end.
    void SwitchLog(bool on)
    {
        const std::string folder = testenv::FreshDir("reload-log");
        SetEnvironmentVariableA("LOCALAPPDATA", folder.c_str());
        LogSettings::Set(on);
    }

    void Report(const Figures& first, const Figures& last)
    {
        const std::string name = "reload " + m_kind + ": ";
        bench::Report(name + "cycles", m_cycle, "cycles");
        bench::Report(name + "handles after the last cycle", last.handles, "handles", "after the first",
                      first.handles);
        bench::Report(name + "threads after the last cycle", last.threads, "threads", "after the first",
                      first.threads);
        bench::Report(name + "private memory after the last cycle", last.privateKiB, "KiB", "after the first",
                      first.privateKiB);
        bench::Report(name + "first free TLS slot after the last cycle", last.tlsSlot, "slot", "after the first",
                      first.tlsSlot);
    }

    bool Settled(const Figures& first, const Figures& last)
    {
        bool ok = true;
        if (last.handles > first.handles + kHandleTolerance)
            ok = Fail("handles grew");
        if (last.threads > first.threads)
            ok = Fail("threads grew");
        if (last.privateKiB > first.privateKiB + kMemoryToleranceKiB)
            ok = Fail("private memory grew");
        if (last.tlsSlot != first.tlsSlot)
            ok = Fail("each load keeps a thread-local storage slot");
        return ok;
    }

    std::string m_kind;
    int m_cycle = 0;
    HMODULE m_module = nullptr;
    IBrailleDriver* m_driver = nullptr;
    RecordingCallbacks m_callbacks;
    std::unique_ptr<DisplaySimulator> m_display;
};

// A crash ends this host at once with the exception's code, so that the
// faults test reads it instead of waiting for a debugger.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info)
{
    printf("crashed: exception 0x%08lx at %p (thread %lu)\n", info->ExceptionRecord->ExceptionCode,
           info->ExceptionRecord->ExceptionAddress, GetCurrentThreadId());
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv)
{
    SetUnhandledExceptionFilter(ReportCrash);
    if (argc < 2) {
        fprintf(stderr, "usage: reload_driver load|missing|silent|display|crossthread|threadgone|abandon|log [COUNT]\n");
        return 2;
    }
    const int count = argc > 2 ? atoi(argv[2]) : 1000;
    Cycles cycles(argv[1]);
    const bool ok = cycles.Run(count);
    printf("reload %s %s\n", argv[1], ok ? "PASSED" : "FAILED");
    return ok ? 0 : 1;
}
