// Allocation failures inside the driver: the screen reader's call fails with
// a result, and nothing is thrown across the interface or out of a thread.
// The driver is linked in, so that this program's operator new is its own.
#include "CBrailleDisplayDriver.h"
#include "DisplaySimulator.h"
#include "DriverEnv.h"
#include "link/CSerialCommHelper.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Threads allowed to allocate while failures are on: those that ran before.
// Fixed storage, since operator new cannot allocate itself.
DWORD g_spared[512];
std::atomic<int> g_sparedCount{0};
std::atomic<bool> g_failNewThreads{false};
thread_local bool t_failHere = false;

bool Spared(DWORD id)
{
    for (int i = 0; i < g_sparedCount; ++i)
        if (g_spared[i] == id)
            return true;
    return false;
}

void FailOnNewThreads(bool on)
{
    if (on) {
        int n = 0;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL ok = Thread32First(snapshot, &entry); ok && n < 512; ok = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == GetCurrentProcessId())
                g_spared[n++] = entry.th32ThreadID;
        CloseHandle(snapshot);
        g_sparedCount = n;
    }
    g_failNewThreads = on;
}

}  // namespace

void* operator new(size_t size)
{
    if (t_failHere || (g_failNewThreads && !Spared(GetCurrentThreadId())))
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void* operator new[](size_t size)
{
    return operator new(size);
}

// Every allocation above comes from malloc: the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

TEST(OutOfMemoryTest, OpenFailsWithAResultWhereverMemoryRunsOut)
{
    DisplaySimulator display(1);
    ASSERT_TRUE(display.IsOpen());
    CBrailleDisplayDriver driver;
    const std::string port = testenv::DriverPort(1);
    const char driverName[] = "C:\\Program Files\\Screen Reader\\Braille\\VK.JLB";

    t_failHere = true;  // the caller's own thread: the key map path
    const BOOL onCaller = driver.Open(port.c_str(), nullptr, "Cellivanta VK", driverName);
    t_failHere = false;
    EXPECT_FALSE(onCaller);

    FailOnNewThreads(true);  // the braille thread: its list of candidate ports
    const BOOL onBrailleThread = driver.Open(port.c_str(), nullptr, "Cellivanta VK", driverName);
    FailOnNewThreads(false);
    EXPECT_FALSE(onBrailleThread);

    EXPECT_TRUE(driver.Open(port.c_str(), nullptr, "Cellivanta VK", driverName)) << "memory is back";
    driver.Close();
}

// A transport worker that cannot get its first record ends before it runs:
// no connection is reported that nobody reads.
TEST(OutOfMemoryTest, TransportInitFailsWhenItsWorkerCannotRun)
{
    DisplaySimulator display(1);
    CSerialCommHelper serial;
    FailOnNewThreads(true);
    const HRESULT hr = serial.Init(testenv::DriverPort(1), 115200, 0, 1, 8);
    FailOnNewThreads(false);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_FALSE(serial.IsConnected());
    serial.UnInit();
    EXPECT_EQ(serial.Init(testenv::DriverPort(1), 115200, 0, 1, 8), S_OK) << "memory is back";
    serial.UnInit();
}

}  // namespace
