// The display protocol's frame assembler, fed directly: what each byte
// sequence from the display turns into.
#include "TestDisplay.h"
#include "DriverEnv.h"

#include <gtest/gtest.h>

namespace {

using Keys = std::vector<std::string>;

class FrameAssemblerTest : public ::testing::Test {
protected:
    void SetUp() override { TestDisplay::ResetAssembler(); }

    TestDisplay m_display{TestDisplay::RecordOnly};
};

TEST_F(FrameAssemblerTest, InitResponseSetsAndClearsTheGeometry)
{
    testenv::TraceCapture trace;
    int text = -1, status = -1;
    EXPECT_FALSE(m_display.GetDisplayInfos(text, status));
    EXPECT_EQ(text, -1) << "outputs touched before the size was known";

    m_display.Feed({0x1B, 0x01, 0x03, 0x00, 0x07, 0x28});
    ASSERT_TRUE(m_display.GetDisplayInfos(text, status));
    EXPECT_EQ(text, 40);
    EXPECT_EQ(status, 0);

    m_display.Feed({0x1B, 0x01, 0x03, 0x01, 0x00, 0x28});  // refused
    EXPECT_FALSE(m_display.GetDisplayInfos(text, status));
    EXPECT_FALSE(trace.Contains("Invalid EE"));

    m_display.Feed({0x1B, 0x01, 0x03, 0x00, 0x00, 0x50});
    EXPECT_EQ(m_display.CellCount(), 80);
    m_display.Feed({0x1B, 0x01, 0x03, 0x09, 0x00, 0x28});  // invalid answer
    EXPECT_EQ(m_display.CellCount(), 0);
    EXPECT_TRUE(trace.Contains("Invalid EE value  EE = 9"));

    m_display.Feed({0x1B, 0x01, 0x00});  // success with no payload: 0 cells
    EXPECT_FALSE(m_display.GetDisplayInfos(text, status));
    EXPECT_EQ(m_display.MessageIds(), (std::vector<int>{1, 1, 1, 1, 1}));
}

TEST_F(FrameAssemblerTest, OversizedDisplayIsLimitedToTheImage)
{
    m_display.Feed({0x1B, 0x01, 0x03, 0x00, 0x00, 0xC8});  // 200 cells
    int text = 0, status = 0;
    ASSERT_TRUE(m_display.GetDisplayInfos(text, status));
    EXPECT_EQ(text, CSerialBrailleDisplay::MAX_CELLS);
}

TEST_F(FrameAssemblerTest, KeyMessagesCarryTheirFirstPayloadByte)
{
    m_display.Feed({0x1B, 0x05, 0x01, 0x22, 0x1B, 0x06, 0x01, 0x22});
    // A key frame holds one key code: other lengths are damage, not keys.
    m_display.Feed({0x1B, 0x05, 0x00, 0x1B, 0x06, 0x03, 0x9F, 0x11, 0x12});
    EXPECT_EQ(m_display.Keys(), (Keys{"D22", "U22"}));
}

TEST_F(FrameAssemblerTest, NoiseAndRepeatedStartBytesAreDropped)
{
    m_display.Feed({0x33, 0x00, 0xFF, 0x1B, 0x1B, 0x05, 0x01, 0x22});
    EXPECT_EQ(m_display.Keys(), (Keys{"D22"}));
}

TEST_F(FrameAssemblerTest, UnknownIdsAreSkippedUntilAKnownOne)
{
    // 0x03, 0x00, 0x02 and 0x07 are no message of the display.
    m_display.Feed({0x1B, 0x03, 0x00, 0x02, 0x07, 0x05, 0x01, 0x44});
    EXPECT_EQ(m_display.Keys(), (Keys{"D44"}));
}

TEST_F(FrameAssemblerTest, StartByteInsideAPayloadIsData)
{
    m_display.Feed({0x1B, 0x09, 0x02, 0x1B, 0x05});
    EXPECT_TRUE(m_display.Keys().empty());
    EXPECT_EQ(m_display.MessageIds(), (std::vector<int>{9}));
    m_display.Feed({0x01, 0x22, 0x1B, 0x05, 0x01, 0x33});  // 01 22 is noise now
    EXPECT_EQ(m_display.Keys(), (Keys{"D33"}));
}

TEST_F(FrameAssemblerTest, IgnoredMessagesOfAnyLengthKeepTheStreamInStep)
{
    for (BYTE id : {0x04, 0x08, 0x09, 0x0A, 0x0B}) {
        m_display.Feed({0x1B, id, 0xFF});
        for (int i = 0; i < 255; ++i)
            m_display.ProcessReceivedByte(i % 2 ? 0x1B : 0x05);
        m_display.Feed({0x1B, 0x06, 0x01, id});
    }
    EXPECT_EQ(m_display.Keys(), (Keys{"U04", "U08", "U09", "U0A", "U0B"}));
}

// A key frame carries one key code: any other length is a damaged length
// byte, and the frames after it must not be eaten as its payload.
TEST_F(FrameAssemblerTest, AKeyFrameOfImpossibleLengthSwallowsNoFrameAfterIt)
{
    m_display.Feed({0x1B, 0x05, 0xF0});
    for (int i = 0; i < 20; ++i)
        m_display.Feed({0x1B, 0x05, 0x01, static_cast<BYTE>(0x50 + i)});
    ASSERT_EQ(m_display.Keys().size(), 20u) << "frames eaten as the damaged frame's payload";
    EXPECT_EQ(m_display.Keys().front(), "D50");
    EXPECT_EQ(m_display.Keys().back(), "D63");
}

TEST_F(FrameAssemblerTest, ShortPayloadReadsZerosNotTheLastFrame)
{
    m_display.Feed({0x1B, 0x0A, 0x03, 0xAA, 0xBB, 0xCC});
    m_display.Feed({0x1B, 0x01, 0x02, 0x00, 0x05});  // NN missing: 0 cells
    EXPECT_EQ(m_display.CellCount(), 0);
}

TEST_F(FrameAssemblerTest, OneAssemblerForTheProcessAndEveryConnectionStartsIdle)
{
    // The state belongs to the process, not to one display object...
    m_display.Feed({0x1B, 0x05});
    TestDisplay other{TestDisplay::RecordOnly};
    other.Feed({0x01, 0x66});
    EXPECT_EQ(other.Keys(), (Keys{"D66"}));
    EXPECT_TRUE(m_display.Keys().empty());

    // ...but a new connection never completes a frame cut by the one before.
    m_display.Feed({0x1B, 0x05});
    other.ResetReceiveState();
    other.Feed({0x01, 0x67});
    EXPECT_EQ(other.Keys(), (Keys{"D66"}));
}

// A reset from another thread in the middle of a frame can leave the
// assembler collecting a payload with a length it has already passed. No
// state makes it write past its payload buffer, and the next frame is read.
class LeftInAState : public TestDisplay {
public:
    LeftInAState() : TestDisplay(RecordOnly) {}
    void Leave(int length, int writePos)
    {
        s_assembler.phase = FrameAssembler::PhasePayload;
        s_assembler.length = length;
        s_assembler.writePos = writePos;
    }
};

TEST_F(FrameAssemblerTest, NoStateWritesPastThePayloadBuffer)
{
    LeftInAState display;
    const struct {
        int length, writePos;
    } states[] = {{0, 0}, {3, 7}, {10, 499}, {255, 500}, {255, -1}};
    for (const auto& state : states) {
        display.ClearRecord();
        display.Leave(state.length, state.writePos);
        for (int i = 0; i < 600; ++i)
            display.Feed({0x00});
        display.Feed({0x1B, 0x05, 0x01, 0x22});
        EXPECT_EQ(display.Keys(), (Keys{"D22"})) << "length " << state.length << ", at " << state.writePos;
    }
}

}  // namespace
