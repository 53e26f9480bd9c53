// What a damaged line leaves behind, one fault at a time: answers to the
// handshake arriving in the middle of a session, a frame cut short, keys
// left "held" by noise or by a connection that closed under them.
#include "FaultSession.h"

namespace faults {
namespace {

const std::vector<BYTE> kGarbage = {0x33, 0xC4, 0x00, 0x7F};

class LineFaultTest : public FaultSession {
protected:
    void SetUp() override
    {
        FaultSession::SetUp();
        ASSERT_TRUE(Open());
        display->ClearFrames();
    }
    // The user's next keys: T1, then the letter a.
    void ExpectKeysAsPressed()
    {
        callbacks.Clear();
        display->Press({T1});
        display->Press({D1});
        const auto got = Await(2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].name, "T1");
        EXPECT_EQ(got[1].kind, Delivery::Typed);
        EXPECT_EQ(got[1].name, "a") << "a key from before is still taken as held";
    }
    void ExpectWholeLinesShown(char fill)
    {
        display->ClearFrames();
        const std::string line(40, fill);
        ASSERT_TRUE(driver->ShowText(line.data(), 40));
        ASSERT_TRUE(display->WaitForFrames(1, 2000)) << "nothing is shown any more";
        EXPECT_EQ(CellFrames().at(0).payload, std::vector<BYTE>(line.begin(), line.end()));
        EXPECT_EQ(driver->GetTextCellCount(), 40);
    }
};

// Only the handshake asks for the display's size: an answer in the middle of
// a session is noise, whatever it says.
TEST_F(LineFaultTest, InitResponsesDuringASessionChangeNothing)
{
    display->SendFrame(0x01, {0x01, 0x00, 0x28});  // refusal
    display->SendFrame(0x01, {0x09, 0x00, 0x28});  // nonsense
    Pump(300);
    ExpectWholeLinesShown('\x2D');
    display->SendFrame(0x01, {0x00, 0x00, 0x05});  // a display of 5 cells
    display->SendFrame(0x01, {0x00, 0x00, 0xFF});  // and of 255
    Pump(300);
    ExpectWholeLinesShown('\x1E');

    display->ClearFrames();
    ASSERT_TRUE(driver->Clear());
    ASSERT_TRUE(display->WaitForFrames(1, 2000));
    EXPECT_EQ(CellFrames().at(0).payload, std::vector<BYTE>(40, 0));
    ExpectKeysAsPressed();
}

TEST_F(LineFaultTest, AFrameCutShortIsAbandonedOnceTheLineIsQuiet)
{
    display->SendRaw({0x1B, 0x09, 0xFF, 0x01, 0x02});  // 255 bytes announced, 2 sent
    Pump(1000);
    ExpectKeysAsPressed();
}

TEST_F(LineFaultTest, AFrameSplitAcrossPollsStillArrives)
{
    display->SendRaw({0x1B, 0x05});
    Pump(150);
    display->SendRaw({0x01, T1, 0x1B, 0x06});
    Pump(150);
    display->SendRaw({0x01, T1});
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "T1");
}

TEST_F(LineFaultTest, KeysHeldByADamagedKeyFrameAreReleasedOnceTheLineIsQuiet)
{
    // Noise that happens to hold the space key, T1 and a typing modifier (C1),
    // then a key-up cut short: its key may stay down for ever.
    std::vector<BYTE> noise = kGarbage;
    for (BYTE code : {D9, T1})
        noise.insert(noise.end(), {0x1B, 0x05, 0x01, code});
    noise.insert(noise.end(), kGarbage.begin(), kGarbage.end());
    noise.insert(noise.end(), {0x1B, 0x05, 0x01, C1, 0x1B, 0x06, 0x01, C1, 0x1B, 0x06, 0x01});
    display->SendRaw(noise);
    Pump(1000);
    ExpectKeysAsPressed();
}

// Bytes outside a frame that are not a key frame's (a lost start of an
// ignored message) say nothing about the keys: the space key held for a chord
// and a waiting modifier both survive them, and a modifier survives sleep.
TEST_F(LineFaultTest, StrayBytesAndReconnectionsLeaveHeldKeysAndAWaitingModifierAlone)
{
    display->KeyDown(D9);
    display->SendRaw({0x08, 0x02, 0x33, 0x44});
    Pump(1000);
    display->Press({D1});
    auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "qwerty:UpArrow") << "D1 with the space held";
    display->KeyUp(D9);

    callbacks.Clear();
    display->Press({C1});  // Control waits for the next key
    Pump(300);
    display->SendRaw({0x33});
    Pump(1000);
    ASSERT_TRUE(driver->Sleep(TRUE));
    ASSERT_TRUE(driver->Sleep(FALSE));
    display->Press({D1});
    got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "qwerty:Control+a");
}

TEST_F(LineFaultTest, KeysHeldOnACleanLineStayHeld)
{
    display->KeyDown(D9);  // the user holds the space key
    Pump(1000);
    display->Press({D1});
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "qwerty:UpArrow") << "D1 with the space held";
    display->KeyUp(D9);
}

TEST_F(LineFaultTest, SleepForgetsAFrameAndKeysCutByIt)
{
    display->KeyDown(T1);
    display->SendRaw({0x1B, 0x05});
    Pump(300);
    ASSERT_TRUE(driver->Sleep(TRUE));
    ASSERT_TRUE(driver->Sleep(FALSE));
    ExpectKeysAsPressed();
}

}  // namespace
}  // namespace faults
