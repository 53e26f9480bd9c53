// The cable pulled while the driver is open (the port pair stopped): every
// call of the screen reader returns promptly, nothing crashes, and the
// display can be used again once the cable is back.
#include "FaultSession.h"

#include <cstdio>

namespace faults {
namespace {

class CableTest : public FaultSession {
protected:
    void SetUp() override
    {
        VK_SKIP_IF(testenv::WhyNoPulls());
        FaultSession::SetUp();
        ASSERT_TRUE(Open());
        ASSERT_TRUE(driver->ShowText(line.data(), 40));
        ASSERT_TRUE(display->WaitForFrames(2, 2000));
        ASSERT_TRUE(display->Vanish());
    }
    // The display works: a line reaches it and a key comes back.
    void ExpectWorking(char fill)
    {
        display->ClearFrames();
        const std::string next(40, fill);
        ASSERT_TRUE(driver->ShowText(next.data(), 40));
        ASSERT_TRUE(display->WaitForFrames(1, 2000));
        EXPECT_EQ(CellFrames().back().payload, std::vector<BYTE>(next.begin(), next.end()));
        callbacks.Clear();
        display->Press({T1});
        const auto got = Await(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].name, "T1");
    }

    const std::string line = std::string(40, '\x07');
};

TEST_F(CableTest, EveryCallReturnsPromptlyWhileTheCableIsOut)
{
    Stopwatch watch;
    EXPECT_TRUE(driver->ShowText("\x01\x02\x03", 3)) << "ShowText only posts";
    EXPECT_TRUE(driver->Clear());
    EXPECT_TRUE(driver->ShowStatus("\x01", 1));
    Pump(300);  // the braille thread tries its writes meanwhile
    EXPECT_LT(watch.Ms(), 300 + kPromptMs);
    EXPECT_EQ(driver->GetTextCellCount(), 40);

    DWORD took[3];
    watch = Stopwatch();
    EXPECT_TRUE(driver->Sleep(TRUE));
    took[0] = watch.Ms();
    watch = Stopwatch();
    driver->Sleep(FALSE);  // the port is gone: the reconnection fails
    took[1] = watch.Ms();
    watch = Stopwatch();
    driver->Close();
    took[2] = watch.Ms();
    ExpectPromptCalls(took, "cable out");

    // Replugged, the display shows nothing: the first line of the new
    // session is sent even though it is the one sent before the cable went.
    ASSERT_TRUE(display->Return());
    ASSERT_TRUE(Open()) << "open on the restored port";
    display->ClearFrames();
    ASSERT_TRUE(driver->ShowText(line.data(), 40));
    ASSERT_TRUE(display->WaitForFrames(1, 2000)) << "the display is left blank";
    EXPECT_EQ(CellFrames().at(0).payload, std::vector<BYTE>(line.begin(), line.end()));
    ExpectWorking('\x3C');
}

TEST_F(CableTest, CloseReturnsPromptlyWhileTheCableIsOut)
{
    Pump(300);
    Stopwatch watch;
    driver->Close();
    EXPECT_LT(watch.Ms(), kPromptMs);
    ASSERT_TRUE(display->Return());
    ASSERT_TRUE(Open());
}

// A wake while the cable is out cannot reach the display; once it is back, a
// sleep and a wake (which the screen reader makes, for one, around a locked
// session) bring the line back, whatever the driver's own search was doing.
TEST_F(CableTest, AWakeWhileTheCableIsOutThenOneAfterItIsBack)
{
    Pump(300);
    ASSERT_TRUE(driver->Sleep(TRUE));
    driver->Sleep(FALSE);
    Pump(300);
    ASSERT_TRUE(display->Return());
    display->ClearFrames();
    ASSERT_TRUE(driver->Sleep(TRUE));
    ASSERT_TRUE(driver->Sleep(FALSE));
    ASSERT_TRUE(PumpUntil([&] { return !CellFrames().empty(); }, 5000)) << "the last line given comes back";
    EXPECT_EQ(CellFrames().back().payload, std::vector<BYTE>(line.begin(), line.end()));
    ExpectWorking('\x3D');
}

}  // namespace
}  // namespace faults
