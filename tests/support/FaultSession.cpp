#include "FaultSession.h"

#include "core/CBrailleDisplayDriver.h"

#include <dbt.h>

#include <cstdio>

namespace faults {

void ExpectPromptCalls(const DWORD (&took)[3], const char* when)
{
    EXPECT_LT(took[0], kPromptMs) << "Sleep(TRUE), " << when;
    EXPECT_LT(took[1], kPromptMs) << "Sleep(FALSE), " << when;
    EXPECT_LT(took[2], kPromptMs) << "Close, " << when;
    printf("[ figures  ] %s: Sleep(TRUE) %lu ms, Sleep(FALSE) %lu ms, Close %lu ms\n", when, took[0], took[1],
           took[2]);
}

namespace {
const char kWindowClass[] = "BrailleDisplayDrvClass";
}

// What Windows broadcasts to top-level windows; Wine never does for a COM port.
void AnnouncePortArrival()
{
    DEV_BROADCAST_PORT_A port{};
    port.dbcp_size = sizeof port;
    port.dbcp_devicetype = DBT_DEVTYP_PORT;
    HWND window = FindWindowA(kWindowClass, nullptr);
    ASSERT_NE(window, nullptr);
    SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port));
}

void FaultSession::SetUp()
{
    driver = testenv::LoadDriver();
    ASSERT_NE(driver, nullptr);
    driver->SetCallbacks(&callbacks);
    driver->Close();
    display = std::make_unique<DisplaySimulator>(1);
    ASSERT_TRUE(display->IsOpen());
}

void FaultSession::TearDown()
{
    if (!driver)
        return;
    driver->SetCallbacks(&callbacks);
    driver->Close();
    EXPECT_TRUE(PumpUntil([] { return FindWindowA(kWindowClass, nullptr) == nullptr; }, 5000))
        << "the hidden window outlives Close";
}

bool FaultSession::Open(int pair)
{
    return OpenOn(testenv::DriverPort(pair));
}

bool FaultSession::OpenOn(const std::string& port, const std::string& driverPath)
{
    const std::string path = driverPath.empty() ? testenv::BinDir() + "\\VK.JLB" : driverPath;
    return driver->Open(port.c_str(), &callbacks, "Cellivanta VK", path.c_str());
}

void FaultSession::Pump(DWORD milliseconds)
{
    testenv::PumpMessages(milliseconds, [this](const MSG& msg) {
        if (!msg.hwnd)
            return;
        if (msg.message == CBrailleDisplayDriver::WM_DEVICE_BYTE) {
            bytesHandled += static_cast<size_t>(msg.wParam);
            m_queueRunsSinceByte = 0;
        } else if (msg.message == CBrailleDisplayDriver::WM_PROCESS_KEY_QUEUE) {
            ++m_queueRunsSinceByte;
        }
    });
}

bool FaultSession::AwaitBytesHandled(size_t n, DWORD timeoutMs)
{
    // A pump dispatches what it observed before it returns to the check.
    return PumpUntil([&] { return bytesHandled >= n && m_queueRunsSinceByte > 0; }, timeoutMs);
}

std::vector<Delivery> FaultSession::Await(size_t n, DWORD timeoutMs)
{
    PumpUntil([&] { return callbacks.Deliveries().size() >= n; }, timeoutMs);
    Pump(300);
    return callbacks.Deliveries();
}

bool FaultSession::AwaitCellFrames(size_t n, DWORD timeoutMs)
{
    return PumpUntil([&] { return CellFrames().size() >= n; }, timeoutMs);
}

std::vector<DisplaySimulator::Frame> FaultSession::CellFrames() const
{
    std::vector<DisplaySimulator::Frame> frames;
    for (const auto& frame : display->Frames())
        if (frame.id == 2)
            frames.push_back(frame);
    return frames;
}

}  // namespace faults
