// What crosses between the driver's threads, each as its own small type: the
// hand-off of received bytes with their connections, the break-off, the
// braille thread's posts and the call lock, run by scripts of their
// operations.
#include "core/CBrailleThread.h"
#include "core/CCallLock.h"
#include "core/CReceiveHandOff.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---- The hand-off ----------------------------------------------------------

// A script of the two sides: "+ab" puts ab, "|" a new connection with the
// waiting bytes kept, "#" one with them dropped, "<n" the window takes n
// bytes and writes them down, "*" first when it starts afresh before them.
struct HandOffCase {
    const char* what;
    std::vector<std::string> script;
    std::string taken;
};

std::string PlayHandOff(const std::vector<std::string>& script, size_t bound = CReceiveHandOff::kMaxWaiting)
{
    CReceiveHandOff handOff;
    std::string taken;
    for (const std::string& step : script) {
        if (step[0] == '+') {
            handOff.Put(step.substr(1), bound);
        } else if (step == "|" || step == "#") {
            handOff.NewConnection(step == "#");
        } else {
            std::string bytes;
            taken += (handOff.Take(std::stoul(step.substr(1)), bytes) ? "*" : "") + bytes + ";";
        }
    }
    return taken;
}

TEST(ReceiveHandOff, EachConnectionStartsAfreshWhereItsBytesBegin)
{
    const HandOffCase cases[] = {
        {"one connection", {"+ab", "+cd", "<3", "<9"}, "abc;d;"},
        {"a new one behind bytes waiting: those first", {"+ab", "|", "+cd", "<9", "<9"}, "ab;*cd;"},
        {"a take stops at the new one", {"+abc", "|", "+de", "<2", "<9", "<1", "<9"}, "ab;c;*d;e;"},
        {"a new one, nothing waiting", {"+ab", "<9", "|", "+cd", "<9"}, "ab;*cd;"},
        {"a connection ended, none begun", {"+ab", "<9", "|", "<9", "<9"}, "ab;*;;"},
        {"two ends in a row are one", {"+ab", "|", "|", "+cd", "<9", "<9", "<9"}, "ab;*cd;;"},
        {"a wake drops the bytes before it", {"+ab", "#", "+cd", "<9"}, "*cd;"},
        {"a new one at each of three", {"+a", "|", "+b", "|", "+c", "<9", "<9", "<9"}, "a;*b;*c;"},
    };
    for (const HandOffCase& c : cases)
        EXPECT_EQ(PlayHandOff(c.script), c.taken) << c.what;
}

// Beyond the bound the oldest go up to a frame start, connection starts
// among them too: the window starts afresh once, before the newest.
TEST(ReceiveHandOff, DroppedBytesStartTheWindowAfresh)
{
    EXPECT_EQ(PlayHandOff({"+abcd", "|", "+ef\x1Bgh", "<99"}, 5), "*\x1Bgh;");
    EXPECT_EQ(PlayHandOff({"+ab\x1B", "|", "+cd", "<1", "<9"}, 4), "*\x1B;*cd;");
}

// A notice stays posted until the take that ends its bytes, not one cut
// short by a new connection; bytes put after that take get a notice of their own.
TEST(ReceiveHandOff, ANoticeLastsUntilTheWindowTookItsBytes)
{
    CReceiveHandOff handOff;
    std::string bytes;
    handOff.Put("ab", CReceiveHandOff::kMaxWaiting);
    handOff.NewConnection(false);
    handOff.Put("cd", CReceiveHandOff::kMaxWaiting);
    handOff.MarkNoticePosted(true);
    handOff.Put("e", CReceiveHandOff::kMaxWaiting);
    handOff.Take(4, bytes);
    EXPECT_TRUE(handOff.NoticePosted()) << "cleared at a new connection, before the notice's last bytes";
    handOff.Take(2, bytes);
    EXPECT_FALSE(handOff.NoticePosted());
    EXPECT_EQ(handOff.Waiting(), 1u);
}

// ---- The break-off ---------------------------------------------------------

// A script of the calls: "R" a call raises it, "+" the call leaves with the
// session going on, "-" with the session ended, "N" Open begins a session,
// "C" a Close is made, "c" that Close returns. After each step: raised (1)
// or not (0), as the braille thread sees the event.
struct BreakOffCase {
    const char* what;
    const char* script;
    const char* raised;
};

TEST(BreakOff, EachCallClearsItsOwnAndAClosesLastsUntilItReturns)
{
    const BreakOffCase cases[] = {
        {"Sleep breaks a reconnection off", "R+", "10"},
        {"a Close that gave up waiting for another call", "CR+c", "1110"},
        {"a Close waits while a Sleep leaves", "CR+", "111"},
        {"two Closes: the first back", "CCc", "111"},
        {"a Close that ended the session", "CR-c", "1111"},
        {"the next Open starts clear", "R-N", "110"},
        {"an Open while a Close waits stays broken off", "CNc", "110"},
        {"a nested Close inside Sleep: the session ends as it leaves", "RR-", "111"},
    };
    for (const BreakOffCase& c : cases) {
        CBrailleThread thread;  // none begun: the break-off alone
        HANDLE event = thread.BreakOffEvent();
        ASSERT_NE(event, nullptr);
        std::string raised;
        for (const char* step = c.script; *step; ++step) {
            switch (*step) {
            case 'R': thread.BreakOff(); break;
            case '+': thread.CallDone(true); break;
            case '-': thread.CallDone(false); break;
            case 'N': thread.NewSession(); break;
            case 'C': thread.BreakOffForClose(); break;
            default: thread.CloseDone(); break;
            }
            const bool set = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
            raised += set ? '1' : '0';
        }
        EXPECT_EQ(raised, c.raised) << c.what;
    }
}

// ---- The braille thread ----------------------------------------------------

struct Served {
    CBrailleThread* thread;
    HANDLE hStopped;
    HANDLE hEnd;
};

unsigned __stdcall TakeOneCommandThenStop(void* pv)
{
    auto* served = static_cast<Served*>(pv);
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    served->thread->StopTakingCommands();
    SetEvent(served->hStopped);
    WaitForSingleObject(served->hEnd, INFINITE);
    return 0;
}

// A thread that took its last command gets no post, though it still runs
// (a ShowText after BTTERMINATE); one let go of gets none either.
TEST(BrailleThread, NoPostReachesAThreadAfterItsLastCommand)
{
    CBrailleThread thread;
    EXPECT_FALSE(thread.Post(WM_USER, 0, 0)) << "no thread yet";
    Served served{&thread, CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_TRUE(thread.Begin(TakeOneCommandThenStop, &served));
    ASSERT_EQ(WaitForSingleObject(served.hStopped, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(thread.Running());
    EXPECT_FALSE(thread.Post(WM_USER, 0, 0)) << "a thread past its last command took a post";
    EXPECT_FALSE(thread.End(0)) << "still running";
    SetEvent(served.hEnd);
    EXPECT_TRUE(thread.End(5000));
    EXPECT_FALSE(thread.Running());
    EXPECT_FALSE(thread.Post(WM_USER, 0, 0));
    CloseHandle(served.hStopped);
    CloseHandle(served.hEnd);
}

// ---- The call lock ---------------------------------------------------------

// A call of the same thread is refused; another thread's waits, or gets
// nothing from TryEnter; a Close owed inside a call is taken once, and
// never left to the next call.
TEST(CallLock, NestedCallsAreRefusedAndAnOwedCloseGoesWithItsCall)
{
    CCallLock lock;
    ASSERT_TRUE(lock.Enter("Open", 0));
    EXPECT_TRUE(lock.HeldHere());
    EXPECT_FALSE(lock.Enter("Sleep", 0));
    EXPECT_FALSE(lock.TryEnter());
    bool otherGot = true;
    std::thread([&] { otherGot = lock.TryEnter() || lock.Enter("Sleep", 50); }).join();
    EXPECT_FALSE(otherGot);
    lock.OweClose();
    EXPECT_TRUE(lock.TakeOwedClose());
    EXPECT_FALSE(lock.TakeOwedClose());
    lock.OweClose();
    lock.Leave();
    EXPECT_FALSE(lock.HeldHere());
    std::thread([&] {
        otherGot = lock.Enter("Close", 1000);
        EXPECT_FALSE(lock.TakeOwedClose()) << "a Close owed in the last call";
        lock.Leave();
    }).join();
    EXPECT_TRUE(otherGot);
}

}  // namespace
