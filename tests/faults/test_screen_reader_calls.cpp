// The screen reader's calls of Open, Close and Sleep against the loaded
// VK.JLB: made from inside each other's waits, from two threads at once,
// from a thread that then ends; a window that cannot be made; and what one
// session leaves to the next.
#include "FaultSession.h"

#include "core/CBrailleDisplayDriver.h"

#include <atomic>
#include <fstream>
#include <thread>

namespace faults {
namespace {

const char kWindowClass[] = "BrailleDisplayDrvClass";
const UINT kCallInside = WM_APP + 1;

class ScreenReaderCallTest : public FaultSession {
public:
    BOOL OpenForCall() { return Open(); }
    // Runs the call of kCallInside.
    static LRESULT CALLBACK CallingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (uMsg == kCallInside) {
            if (wParam)
                s_driver->Close();
            else
                s_innerResult = s_driver->Sleep(TRUE);
            return 1;
        }
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }
    static IBrailleDriver* s_driver;
    static BOOL s_innerResult;
};

IBrailleDriver* ScreenReaderCallTest::s_driver = nullptr;
BOOL ScreenReaderCallTest::s_innerResult = -1;

bool WindowOfClassExists()
{
    return FindWindowA(kWindowClass, nullptr) != nullptr;
}

// Open, while another thread sends this one a message whose handler calls
// Sleep(TRUE) (wParam 0) or Close (1) once the display was asked for its size.
BOOL OpenWithACallInside(ScreenReaderCallTest& test, IBrailleDriver* driver, DisplaySimulator& display, WPARAM close)
{
    ScreenReaderCallTest::s_driver = driver;
    WNDCLASSA wc{};
    wc.lpfnWndProc = ScreenReaderCallTest::CallingProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "CallingWindow";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    display.SetInitResponse(0, 0, 40, 500);  // Open waits while the handler runs
    std::thread sender([&] {
        testenv::WaitFor([&] { return display.InitRequestCount() > 0; }, kPromptMs);
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, kCallInside, close, 0, SMTO_NORMAL, kPromptMs, &result);
    });
    const BOOL opened = test.OpenForCall();
    sender.join();
    DestroyWindow(window);
    UnregisterClassA(wc.lpszClassName, wc.hInstance);
    return opened;
}

// A screen reader that posted its quit just before a call still gets it
// after the call; a call made by a handler that runs inside Open's wait is
// refused, and Open's own session works.
TEST_F(ScreenReaderCallTest, ACallFromInsideAWaitIsRefusedAndAQuitIsKept)
{
    PostQuitMessage(7);
    const BOOL opened = OpenWithACallInside(*this, driver, *display, 0);
    MSG quit{};
    const bool quitKept = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;

    ASSERT_TRUE(opened);
    EXPECT_TRUE(quitKept) << "the quit posted before Open was lost";
    EXPECT_EQ(quit.wParam, 7u);
    EXPECT_EQ(s_innerResult, FALSE) << "Sleep inside Open's wait was taken";
    display->Press({T1});
    EXPECT_EQ(Await(1).size(), 1u) << "Open's session does not work";
}

// Close made by a handler inside Open's wait: Open returns FALSE and the
// session is over (no window, no line taken, the port free for the next Open).
TEST_F(ScreenReaderCallTest, ACloseFromInsideAWaitEndsTheSessionWhenTheWaitEnds)
{
    EXPECT_FALSE(OpenWithACallInside(*this, driver, *display, 1)) << "Open's session outlived the Close";
    EXPECT_FALSE(WindowOfClassExists()) << "a window outlives the Close";
    EXPECT_FALSE(driver->ShowText("\x01", 1)) << "the driver stays open after Close";
    ASSERT_TRUE(Open()) << "the next Open";
    display->Press({T1});
    EXPECT_EQ(Await(1).size(), 1u);
}

// Sleep from another thread while Open waits for the display's answer: it
// waits for Open to end, then puts the display to sleep; it neither breaks
// off Open's handshake nor leaves a window behind.
TEST_F(ScreenReaderCallTest, ACallFromAnotherThreadWaitsForTheOneUnderWay)
{
    display->SetInitResponse(0, 0, 40, 500);
    std::atomic<BOOL> slept{-1};
    std::atomic<bool> done{false};
    std::thread other([&] {
        testenv::WaitFor([&] { return display->InitRequestCount() > 0; }, kPromptMs);
        slept = driver->Sleep(TRUE);
        done = true;
    });
    const BOOL opened = Open();
    PumpUntil([&] { return done.load(); }, 2 * kPromptMs);  // the window is this thread's to destroy
    other.join();
    ASSERT_TRUE(opened) << "Sleep from another thread broke off Open";
    EXPECT_EQ(slept.load(), TRUE);
    EXPECT_FALSE(WindowOfClassExists()) << "a window outlives the sleep";
    ASSERT_TRUE(driver->Sleep(FALSE));
    display->Press({T1});
    EXPECT_EQ(Await(1).size(), 1u);
    driver->Close();
    EXPECT_FALSE(WindowOfClassExists()) << "a window outlives Close";
}

// The window lives on the thread that last woke the display. When that
// thread ends, the next call from a live thread makes it anew: keys arrive.
// A window that cannot be made fails Open, which then leaves nothing open.
TEST_F(ScreenReaderCallTest, AWindowLostWithItsThreadComesBackAndOneNeverMadeFailsOpen)
{
    ASSERT_TRUE(Open());
    ASSERT_TRUE(driver->Sleep(TRUE));
    std::thread([&] { driver->Sleep(FALSE); }).join();
    const std::string line(40, '\x11');
    ASSERT_TRUE(driver->ShowText(line.data(), 40));
    display->Press({T1});
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u) << "the key was lost with the window's thread";
    EXPECT_EQ(got[0].threadId, GetCurrentThreadId());
    driver->Close();

    // A class of the driver's name that refuses every window.
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) -> LRESULT {
        return uMsg == WM_NCCREATE ? FALSE : DefWindowProcA(hWnd, uMsg, wParam, lParam);
    };
    wc.hInstance = GetModuleHandleA("VK.JLB");
    wc.lpszClassName = kWindowClass;
    ASSERT_TRUE(RegisterClassA(&wc));
    const BOOL opened = Open();
    UnregisterClassA(kWindowClass, wc.hInstance);
    EXPECT_FALSE(opened) << "Open succeeded without its window";
    display->ClearFrames();
    EXPECT_FALSE(driver->ShowText(line.data(), 40)) << "a session runs on after the failed Open";
    ASSERT_TRUE(Open()) << "the next Open";
}

// What one session leaves must not act in the next: a typing modifier still
// waiting, or a combination finished before Close.
TEST_F(ScreenReaderCallTest, NothingOfASessionActsInTheNext)
{
    ASSERT_TRUE(Open());
    display->Press({C1});  // Control waits for the next key
    Pump(300);
    driver->Close();
    ASSERT_TRUE(Open());
    display->Press({D1});
    auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "a") << "a modifier of the last session applied";

    // T1 and T2 in one read; the screen reader closes on T1.
    callbacks.Clear();
    callbacks.onDelivery = [this](const Delivery& d) {
        if (d.name == "T1")
            driver->Close();
    };
    display->SendRaw({0x1B, 0x05, 0x01, T1, 0x1B, 0x06, 0x01, T1, 0x1B, 0x05, 0x01, T2, 0x1B, 0x06, 0x01, T2});
    ASSERT_TRUE(PumpUntil([&] { return !callbacks.Deliveries().empty(); }, kPromptMs));
    callbacks.onDelivery = nullptr;
    ASSERT_TRUE(Open());
    got = Await(2, 1000);
    ASSERT_EQ(got.size(), 1u) << "a key finished before Close acted after it";
    EXPECT_EQ(got[0].name, "T1");
}

// The window's thread is inside a key's callback, with the next key queued,
// when the screen reader closes and opens the driver anew with another key
// map: the window outlives Close, so the Open is refused, and the key still
// queued is translated with its own session's key map.
TEST_F(ScreenReaderCallTest, AnOpenRefusedForALiveWindowLeavesTheKeyMapAlone)
{
    std::string driverPath[2];
    const char* const name[2] = {"Enter", "Backspace"};
    for (int map = 0; map < 2; ++map) {
        const std::string folder = testenv::FreshDir("keymap" + std::to_string(map));
        std::ofstream(folder + "\\kvbrl.ini") << "[Typing]\nD7=" << name[map] << "\n";
        driverPath[map] = folder + "\\VK.JLB";
    }
    ASSERT_TRUE(OpenOn(testenv::DriverPort(1), driverPath[0]));
    ASSERT_TRUE(driver->Sleep(TRUE));
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> awake{false}, inCallback{false}, stop{false};
    callbacks.onDelivery = [&](const Delivery& d) {
        if (d.name != "T1")
            return;
        inCallback = true;
        WaitForSingleObject(release, 3 * kPromptMs);
    };
    std::thread windowThread([&] {
        driver->Sleep(FALSE);
        awake = true;
        while (!stop)
            testenv::PumpMessages(20);
    });
    ASSERT_TRUE(PumpUntil([&] { return awake.load(); }, kPromptMs));
    display->SendRaw({0x1B, 0x05, 0x01, T1, 0x1B, 0x06, 0x01, T1, 0x1B, 0x05, 0x01, D7, 0x1B, 0x06, 0x01, D7});
    const bool blocked = PumpUntil([&] { return inCallback.load(); }, kPromptMs);
    driver->Close();
    const BOOL reopened = OpenOn(testenv::DriverPort(1), driverPath[1]);
    SetEvent(release);
    testenv::WaitFor([&] { return callbacks.Deliveries().size() >= 2; }, kPromptMs);
    stop = true;
    windowThread.join();
    callbacks.onDelivery = nullptr;
    CloseHandle(release);
    ASSERT_TRUE(blocked);
    EXPECT_FALSE(reopened) << "Open with the window of the last session alive";
    const auto got = callbacks.Deliveries();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_NE(got[1].name.find(name[0]), std::string::npos) << got[1].name << ": the refused Open's key map";
}

// The window starts its frames afresh only where the hand-off says a new
// connection begins: a stray message of ours (what was once a request to
// start afresh) does not cut the frame under way.
TEST_F(ScreenReaderCallTest, AStrayMessageDoesNotCutAFrameUnderWay)
{
    const UINT kResetReceive = WM_USER + 15;
    ASSERT_TRUE(Open());
    HWND window = FindWindowA(kWindowClass, nullptr);
    ASSERT_NE(window, nullptr);
    display->SendRaw({0x1B, 0x05});
    ASSERT_TRUE(PumpUntil([&] { return bytesHandled >= 2; }, kPromptMs));
    PostMessageA(window, kResetReceive, 0x7FFF, 0);  // handled before the bytes that follow
    display->SendRaw({0x01, T1, 0x1B, 0x06, 0x01, T1});
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u) << "the frame under way was reset";
    EXPECT_EQ(got[0].name, "T1");
}

// Open on "usb" with a dozen ports where nothing answers stops looking
// after its bound. A Close from another thread breaks such an Open off at
// once and leaves the driver closed: the host unloads the driver next.
TEST_F(ScreenReaderCallTest, CloseBreaksOffALongOpenAndOpenHasABound)
{
    std::vector<std::pair<std::string, std::string>> silentPorts;
    for (int i = 0; i < 12; ++i)
        silentPorts.push_back({"VK" + std::to_string(i), testenv::DriverPort(2)});
    UsbRegistration usb(silentPorts);
    Stopwatch alone;
    EXPECT_FALSE(OpenOn("usb"));
    EXPECT_LT(alone.Ms(), CBrailleDisplayDriver::kOpenSearchMs + kPromptMs) << "Open has no bound";

    // Close comes at some time within Open's search of the twelve ports;
    // Open must end promptly after it, whenever that was.
    Stopwatch clock;
    std::atomic<double> closeAt{-1};
    std::atomic<double> closeTook{-1};
    std::thread closer([&] {
        ::Sleep(1500);
        closeAt = clock.Ms();
        driver->Close();
        closeTook = clock.Ms() - closeAt;
    });
    const BOOL opened = OpenOn("usb");
    const double openEnded = clock.Ms();
    closer.join();
    EXPECT_FALSE(opened);
    EXPECT_LT(openEnded - closeAt.load(), kPromptMs) << "Close did not break Open off";
    EXPECT_LT(closeTook.load(), kPromptMs) << "Close waited for the whole Open";
    EXPECT_FALSE(driver->ShowText("\x01", 1)) << "the driver stays open after Close";
}

}  // namespace
}  // namespace faults
