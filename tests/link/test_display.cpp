// The display classes on a real port pair with the simulator at the other
// end: the handshake, the cells frames on the wire and what comes back.
#include "DisplaySimulator.h"
#include "TestDisplay.h"
#include "DriverEnv.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

using Bytes = std::vector<BYTE>;
using Keys = std::vector<std::string>;

const DWORD kSettle = 300;  // long enough for anything sent to have arrived

Bytes Cells(size_t count, BYTE first)
{
    Bytes cells(count);
    std::iota(cells.begin(), cells.end(), first);
    return cells;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override { TestDisplay::ResetAssembler(); }

    bool Connect() { return m_display.ConnectTo(testenv::DriverPort(1).c_str()); }

    bool Handshake() { return m_display.Handshake(); }

    bool Show(const Bytes& cells) { return m_display.DisplayBraille(cells.data(), static_cast<int>(cells.size())); }

    // Reads out until the recorder holds count key messages.
    void PollKeys(size_t count)
    {
        testenv::WaitFor([&] {
            m_display.ProcessReceivedData();
            return m_display.Keys().size() >= count;
        }, 1000);
    }

    DisplaySimulator m_sim{1};
    TestDisplay m_display{TestDisplay::RecordOnly};
};

TEST_F(DisplayTest, ConnectToNeedsAPortThatOpens)
{
    testenv::TraceCapture trace;
    EXPECT_FALSE(m_display.ConnectTo(nullptr));
    EXPECT_TRUE(trace.Contains("Invalid portName argument"));
    EXPECT_FALSE(trace.Contains("CSerialCommHelper"));
    EXPECT_FALSE(m_display.ConnectTo("COM99"));
    EXPECT_FALSE(m_display.IsConnected());
    EXPECT_FALSE(m_display.SendInitRequest());
}

TEST_F(DisplayTest, ALateAnswerIsWaitedFor)
{
    m_sim.SetInitResponse(0, 0, 80, 400);
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(Show(Cells(40, 1))) << "cells shown before the size was known";
    ASSERT_TRUE(Handshake());
    EXPECT_EQ(m_display.CellCount(), 80);
}

TEST_F(DisplayTest, ASilentDisplayLeavesTheSizeUnknown)
{
    m_sim.SetSilent(true);
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(Handshake());
    EXPECT_EQ(m_sim.InitRequestCount(), 1u);
}

// The answer is read while the hidden window's thread may own the receive
// state: nothing of it is touched, and the keys around the answer are kept
// for that thread, the answer split over two reads left out.
TEST_F(DisplayTest, TheHandshakeReadsItsAnswerApartFromTheKeys)
{
    ASSERT_TRUE(Connect());
    CCellivantaDisplay::HandshakeReader answer(m_display);
    m_sim.SendRaw({0x1B, 0x05, 0x01, 0x11, 0x1B, 0x01, 0x03});
    ASSERT_TRUE(testenv::WaitFor([&] { return answer.Read() && answer.Bytes().size() >= 7; }, 2000));
    m_sim.SendRaw({0x00, 0x00, 0x28, 0x1B, 0x06, 0x01, 0x11});
    testenv::WaitFor([&] { return answer.Read() && answer.Bytes().size() >= 8 && m_display.CellCount() > 0; }, 2000);
    EXPECT_EQ(m_display.CellCount(), 40);
    EXPECT_TRUE(m_display.Keys().empty()) << "the handshake assembled keys";
    EXPECT_EQ(answer.Bytes(), std::string("\x1B\x05\x01\x11\x1B\x06\x01\x11", 8));
}

TEST_F(DisplayTest, CellsFrameIsExactAndSentOnlyWhenTheImageChanged)
{
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(Handshake());
    m_sim.ClearReceivedBytes();
    m_sim.ClearFrames();

    const Bytes line = Cells(40, 0x00);  // holds 0x00 and 0x1B
    ASSERT_TRUE(Show(line));
    ASSERT_TRUE(m_sim.WaitForFrames(1, 2000));
    Bytes expected{0x1B, 0x02, 0x28};
    expected.insert(expected.end(), line.begin(), line.end());
    EXPECT_EQ(m_sim.ReceivedBytes(), expected);

    EXPECT_TRUE(Show(line));             // unchanged: nothing on the wire
    EXPECT_TRUE(Show(Cells(10, 0x80)));  // padded with blank cells
    EXPECT_TRUE(Show(Cells(60, 0x40)));  // cut at the display's width
    EXPECT_TRUE(m_display.DisplayBraille(nullptr, 0));  // a blank line
    EXPECT_TRUE(m_display.DisplayBraille(line.data(), 0));
    ASSERT_TRUE(m_sim.WaitForFrames(4, 2000));
    Sleep(kSettle);

    const auto frames = m_sim.Frames();
    ASSERT_EQ(frames.size(), 4u);
    Bytes padded = Cells(10, 0x80);
    padded.resize(40, 0);
    EXPECT_EQ(frames[1].payload, padded);
    EXPECT_EQ(frames[2].payload, Cells(40, 0x40));
    EXPECT_EQ(frames[3].payload, Bytes(40, 0));
    for (const auto& frame : frames)
        EXPECT_EQ(frame.id, 0x02);
}

TEST_F(DisplayTest, AFailedSendIsRepeatedForTheSameCells)
{
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(Handshake());
    m_sim.ClearFrames();

    m_display.Serial().Stop();  // writes refused
    EXPECT_FALSE(Show(Cells(40, 1)));
    m_display.Serial().Start();
    EXPECT_TRUE(Show(Cells(40, 1)));
    EXPECT_TRUE(Show(Cells(40, 2)));
    ASSERT_TRUE(m_sim.WaitForFrames(2, 2000));
    Sleep(kSettle);
    const auto frames = m_sim.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].payload, Cells(40, 1));
    EXPECT_EQ(frames[1].payload, Cells(40, 2));
}

TEST_F(DisplayTest, GetCellsStaysInsideTheCallersBuffer)
{
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(Handshake());
    ASSERT_TRUE(Show(Cells(40, 1)));
    Bytes buffer(16, 0xEE);
    EXPECT_TRUE(m_display.GetCells(buffer.data(), 10));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Cells(10, 1));
    EXPECT_EQ(Bytes(buffer.begin() + 10, buffer.end()), Bytes(6, 0xEE));
    EXPECT_FALSE(m_display.GetCells(buffer.data(), 0));
    EXPECT_FALSE(m_display.GetCells(nullptr, 40));
}

TEST_F(DisplayTest, ReconnectionKeepsTheSizeAndTheImage)
{
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(Handshake());
    ASSERT_TRUE(Show(Cells(40, 3)));
    ASSERT_TRUE(m_sim.WaitForFrames(2, 2000)) << "the line never left";  // after the init request
    ASSERT_TRUE(m_display.Disconnect());
    EXPECT_FALSE(m_display.IsConnected());
    ASSERT_TRUE(Connect());
    m_sim.ClearFrames();

    int text = 0, status = 0;
    EXPECT_TRUE(m_display.GetDisplayInfos(text, status));
    EXPECT_EQ(text, 40);
    EXPECT_TRUE(Show(Cells(40, 3)));
    Bytes saved(40);
    ASSERT_TRUE(m_display.GetCells(saved.data(), 40));
    EXPECT_EQ(saved, Cells(40, 3));
    Sleep(kSettle);
    EXPECT_EQ(m_sim.FrameCount(), 0u);
}

TEST_F(DisplayTest, KeyFramesArriveWhateverTheirChunking)
{
    ASSERT_TRUE(Connect());
    m_sim.Press({keycode::T1, keycode::D2});
    PollKeys(4);
    EXPECT_EQ(m_display.Keys(), (Keys{"D11", "D03", "U11", "U03"}));
    m_display.ClearRecord();

    // Noise, an ignored message holding 1B, frames split and merged across
    // read-outs.
    const std::vector<Bytes> pieces = {
        {0x33, 0x1B},
        {0x05, 0x01},
        {0x50, 0x1B, 0x08, 0x02, 0x1B, 0x05, 0x1B, 0x06, 0x01},
        {0x50},
        {0x1B, 0x05, 0x01, 0x12, 0x1B, 0x06, 0x01, 0x12},
    };
    for (const Bytes& piece : pieces) {
        m_sim.SendRaw(piece);
        Sleep(50);
        m_display.ProcessReceivedData();
    }
    PollKeys(4);
    EXPECT_EQ(m_display.Keys(), (Keys{"D50", "U50", "D12", "U12"}));
}

TEST_F(DisplayTest, ReceivedDataNeedsAConnection)
{
    EXPECT_FALSE(m_display.ProcessReceivedData());
    ASSERT_TRUE(Connect());
    EXPECT_TRUE(m_display.ProcessReceivedData());
    EXPECT_TRUE(m_display.MessageIds().empty());
    ASSERT_TRUE(m_display.Disconnect());
    EXPECT_FALSE(m_display.ProcessReceivedData());
}

}  // namespace
