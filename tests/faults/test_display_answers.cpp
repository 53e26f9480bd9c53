// Displays that refuse the handshake, answer nonsense or report a size the
// driver cannot take as it is: what the screen reader then sees.
#include "FaultSession.h"

namespace faults {
namespace {

class DisplayAnswerTest : public FaultSession {};

// A refusal (EE 1), an invalid answer (EE 9) and a display of no cells all
// fail the open like a silent display: nothing is left running and nothing
// can be shown.
TEST_F(DisplayAnswerTest, RefusalsAndNonsenseFailTheOpen)
{
    const int threadsBefore = ThreadCountOfProcess();
    const struct {
        BYTE ee, nn;
        const char* what;
    } answers[] = {{1, 40, "refusal"}, {9, 40, "invalid answer"}, {0, 0, "no cells"}};
    // (No SCOPED_TRACE here: it starts a thread of GoogleTest's own.)
    for (const auto& answer : answers) {
        display->SetInitResponse(answer.ee, 0, answer.nn);
        Stopwatch watch;
        EXPECT_FALSE(Open()) << answer.what;
        EXPECT_LT(watch.Ms(), 10000u) << answer.what << ": the open does not end";
        EXPECT_EQ(driver->GetTextCellCount(), 0) << answer.what;
        EXPECT_EQ(driver->GetTotalCellCount(), 0) << answer.what;
        EXPECT_FALSE(driver->ShowText("\x01", 1)) << answer.what;
        EXPECT_EQ(ThreadCountOfProcess(), threadsBefore) << answer.what << ": braille thread or port worker left";
    }
    display->SetInitResponse(0, 0, 40);
    ASSERT_TRUE(Open()) << "the display answers properly at last";
    EXPECT_EQ(driver->GetTextCellCount(), 40);
}

// 255 cells do not fit the 128-cell image: the screen reader is told 128 and
// every frame, whatever it is given, carries exactly 128 cells.
TEST_F(DisplayAnswerTest, AnOversizedDisplayIsDrivenAs128Cells)
{
    display->SetInitResponse(0, 0, 255);
    ASSERT_TRUE(Open());
    EXPECT_EQ(driver->GetTextCellCount(), 128);
    EXPECT_EQ(driver->GetTotalCellCount(), 128);

    std::string wide(255, '\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<char>(i + 1);
    display->ClearFrames();
    ASSERT_TRUE(driver->ShowText(wide.data(), 255));
    ASSERT_TRUE(driver->ShowText("\x11\x12", 2));
    ASSERT_TRUE(driver->Clear());
    ASSERT_TRUE(display->WaitForFrames(3, 2000));
    ASSERT_TRUE(driver->ShowText(wide.data(), 255));
    ASSERT_TRUE(driver->Sleep(TRUE));
    // The blank is on its way when Sleep returns; a wake right away would
    // purge it before the other end of the pair took it.
    ASSERT_TRUE(display->WaitForFrames(5, 2000));
    ASSERT_TRUE(driver->Sleep(FALSE));
    // A wake whose first try fails is taken up by the retries (2 s apart).
    ASSERT_TRUE(display->WaitForFrames(6, 10000));

    const auto frames = CellFrames();
    ASSERT_EQ(frames.size(), 6u);
    const std::vector<BYTE> first128(wide.begin(), wide.begin() + 128);
    std::vector<BYTE> two(128, 0);
    two[0] = 0x11;
    two[1] = 0x12;
    const std::vector<BYTE> blank(128, 0);
    const std::vector<std::vector<BYTE>> expected = {first128, two, blank, first128, blank, first128};
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].payload, expected[i]) << "frame " << i;

    // The last routing key (index 80) still arrives.
    display->SendRaw(RoutingPress(80));
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].routing, 80);
}

}  // namespace
}  // namespace faults
