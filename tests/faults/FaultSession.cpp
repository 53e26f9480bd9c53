#include "FaultSession.h"

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

std::vector<BYTE> RoutingPress(int index)
{
    const BYTE code = R(index);
    return {0x1B, 0x05, 0x01, code, 0x1B, 0x06, 0x01, code};
}

void FaultSession::SetUp()
{
    driver = testenv::LoadDriver();
    ASSERT_NE(driver, nullptr);
    display = std::make_unique<DisplaySimulator>(1);
    ASSERT_TRUE(display->IsOpen());
}

void FaultSession::TearDown()
{
    if (!driver)
        return;
    driver->SetCallbacks(&callbacks);
    driver->Close();
    Pump(50);
}

bool FaultSession::Open(int pair)
{
    return driver->Open(testenv::DriverPort(pair).c_str(), &callbacks, "Cellivanta VK",
                        (testenv::BinDir() + "\\VK.JLB").c_str());
}

void FaultSession::Pump(DWORD milliseconds)
{
    testenv::PumpMessages(milliseconds, [this](const MSG& msg) {
        if (msg.message == kDeviceByte && msg.hwnd)
            ++bytesHandled;
    });
}

std::vector<Delivery> FaultSession::Await(size_t n, DWORD timeoutMs)
{
    PumpUntil([&] { return callbacks.Deliveries().size() >= n; }, timeoutMs);
    Pump(300);
    return callbacks.Deliveries();
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
