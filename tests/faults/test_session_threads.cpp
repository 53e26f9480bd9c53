// The screen reader's threads against the driver's: a window made on one
// thread and closed from another, a window that ended with its thread in the
// middle of a key, callbacks replaced in the middle of one key,
// a braille thread whose start came too late, other threads busy while Open
// waits for the display.
#include "FaultSession.h"
#include "ThreadStartGate.h"

#include <atomic>
#include <thread>

namespace faults {
namespace {

const char kWindowClass[] = "BrailleDisplayDrvClass";

class SessionThreadTest : public FaultSession {};

// Sleep(FALSE) from a second thread moves the hidden window, and with it key
// delivery, to that thread; Close from the first thread must still leave no
// window and no class behind, or a message after the library is unloaded
// would run code that is gone.
TEST_F(SessionThreadTest, AWindowMadeOnAnotherThreadIsGoneAfterClose)
{
    ASSERT_TRUE(Open());
    ASSERT_TRUE(driver->Sleep(TRUE));
    std::atomic<bool> stop{false};
    std::atomic<bool> awake{false};
    std::atomic<DWORD> secondThread{0};
    std::thread second([&] {
        secondThread = GetCurrentThreadId();
        driver->Sleep(FALSE);
        awake = true;
        while (!stop)
            testenv::PumpMessages(20);
    });
    // The window comes before the port is open again: a key pressed between
    // the two is not the driver's to keep, so wait until the wake is done.
    bool delivered = PumpUntil([&] { return awake.load(); }, 5000) && display->Press({T1}) &&
                     PumpUntil([&] { return !callbacks.Deliveries().empty(); }, 5000);

    driver->Close();
    stop = true;
    second.join();
    ASSERT_TRUE(delivered) << "the key pressed after the wake was lost";
    EXPECT_EQ(callbacks.Deliveries().at(0).threadId, secondThread.load()) << "keys stay with the first thread";
    EXPECT_EQ(FindWindowA(kWindowClass, nullptr), nullptr) << "the hidden window outlives Close";
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetClassInfoExA(GetModuleHandleA("VK.JLB"), kWindowClass, &info)) << "the class outlives Close";
}

// DotsToChar and the ProcessEncodedTypeKey that follows it are one key: both
// go to the callbacks read at its start, even if they are replaced between.
class SwitchingCallbacks : public RecordingCallbacks {
public:
    WORD DotsToChar(IBrailleDriver* pDriver, WORD woBrailleDots) override
    {
        if (next)
            pDriver->SetCallbacks(next);
        return RecordingCallbacks::DotsToChar(pDriver, woBrailleDots);
    }
    IBrailleDriverCallbacks* next = nullptr;
};

TEST_F(SessionThreadTest, OneTypedKeyGoesWholeToTheCallbacksItStartedWith)
{
    SwitchingCallbacks first;
    RecordingCallbacks second;
    first.next = &second;
    ASSERT_TRUE(Open());
    driver->SetCallbacks(&first);
    display->Press({D1});
    ASSERT_TRUE(PumpUntil([&] { return !first.Deliveries().empty(); }, 5000)) << "the letter went elsewhere";
    EXPECT_EQ(first.Deliveries().at(0).name, "a");
    EXPECT_TRUE(second.Deliveries().empty());
    driver->SetCallbacks(&callbacks);
}

// D1 goes down while the window's thread pumps; its key-up is posted to a
// thread that no longer pumps and ends, taking the window with it. The
// window made anew starts its key capture clean: D1 is not held for good,
// and the next letter (dots 2 and 4, i) is typed as it was pressed.
TEST_F(SessionThreadTest, AKeyHeldWhenItsWindowEndedIsNotHeldInTheNext)
{
    std::atomic<bool> stop{false};
    std::atomic<bool> opened{false};
    std::thread first([&] {
        opened = Open();
        while (!stop)
            testenv::PumpMessages(20);
        display->KeyUp(D1);
        testenv::WaitFor([] { return false; }, 500);  // posted here, never handled
    });
    ASSERT_TRUE(testenv::WaitFor([&] { return opened.load(); }, 10000));
    display->KeyDown(D1);
    testenv::WaitFor([] { return false; }, 500);
    stop = true;
    first.join();
    driver->ShowText("\x01", 1);  // a call from a living thread makes the window anew
    display->Press({D2, D4});
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u) << "the letter was swallowed by a key held for good";
    EXPECT_EQ(got[0].name, "i");
}

// Open waits over a second for the display's answer. Meanwhile a message
// another thread sends to the caller's thread is served (a screen reader's
// own threads do that: left waiting, they would hang it), and keys pressed
// on the display arrive, in order, once the session is open.
TEST_F(SessionThreadTest, WhileOpenWaitsMessagesAreServedAndKeysKept)
{
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Stopwatch clock;
    std::atomic<double> answeredAt{-1};
    std::atomic<bool> opening{false};
    std::thread sender([&] {
        // This thread is served only once Open runs: the display's settle
        // time keeps Open busy for a second after that.
        testenv::WaitFor([&] { return opening.load(); }, kPromptMs);
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, kPromptMs, &result))
            answeredAt = clock.Ms();
    });
    std::thread presser([&] {
        testenv::WaitFor([&] { return display->InitRequestCount() > 0; }, kPromptMs);
        ::Sleep(50);  // the answer has gone; the driver reads it later
        display->Press({T1});
        display->Press({T2});
    });
    opening = true;
    const bool opened = Open();
    const double openedAt = clock.Ms();
    sender.join();
    presser.join();
    DestroyWindow(window);
    ASSERT_TRUE(opened);
    EXPECT_GE(answeredAt.load(), 0.0) << "a message sent during Open was never served";
    EXPECT_LT(answeredAt.load(), openedAt) << "a message sent during Open waited for it to return";
    const auto got = Await(2);
    ASSERT_EQ(got.size(), 2u) << "keys pressed during the handshake";
    EXPECT_EQ(got[0].name, "T1");
    EXPECT_EQ(got[1].name, "T2");
}

// A braille thread held at its start past Open's wait (a loader busy with
// another library) must end when it gets going, and the next Open must work
// with one braille thread, not a stale one beside its own.
TEST_F(SessionThreadTest, AStartThatTimedOutLeavesOneBrailleThread)
{
    // A session first: every thread of the display simulator has started,
    // and the next to start is the braille thread.
    ASSERT_TRUE(Open());
    driver->Close();
    HoldNextThreadStart();
    Stopwatch took;
    EXPECT_FALSE(Open()) << "Open succeeded without its braille thread";
    EXPECT_LT(took.Ms(), 2.0 * kPromptMs) << "Open waits too long for a start";
    const DWORD held = HeldThreadId();
    ASSERT_NE(held, 0u) << "no thread was held";
    HANDLE stale = OpenThread(SYNCHRONIZE, FALSE, held);
    ASSERT_NE(stale, nullptr);
    OpenThreadStarts();

    ASSERT_TRUE(Open());
    EXPECT_EQ(WaitForSingleObject(stale, kPromptMs), WAIT_OBJECT_0) << "the stale braille thread still runs";
    CloseHandle(stale);
    display->Press({T1});
    EXPECT_EQ(Await(1).size(), 1u) << "one press, one delivery";
}

}  // namespace
}  // namespace faults
