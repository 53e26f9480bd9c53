// Key capture: the key-down and key-up messages of the display turned into
// the records the screen reader will get, in the order the user made them.
#include "TestDisplay.h"

#include <gtest/gtest.h>

using namespace keytest;

namespace {

using Records = std::vector<Keys>;

TEST(KeyCapture, DotChordEndsWhenTheLastDotGoesUp)
{
    TestDisplay display;
    EXPECT_FALSE(display.HasKeyCombination());
    display.Press(D(1));
    display.Press(D(2));
    display.Release(D(1));
    EXPECT_FALSE(display.HasKeyCombination()) << "D2 is still down";
    display.Release(D(2));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1, 2}))}));
}

// The deciding group is T over C over D and never goes down while the
// combination lasts; keys of other groups may outlast it.
TEST(KeyCapture, DecidingGroupIsTOverCOverD)
{
    TestDisplay display;
    display.Press(T(1)), display.Press(D(1)), display.Release(D(1));
    EXPECT_FALSE(display.HasKeyCombination());
    display.Release(T(1));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1}), 1)}));

    display.Press(D(1)), display.Press(C(1)), display.Release(D(1));
    EXPECT_FALSE(display.HasKeyCombination());
    display.Release(C(1));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1}), 0, 1)}));

    display.Press(C(1)), display.Press(D(1)), display.Release(C(1));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1}), 0, 1)})) << "made while D1 is still down";
    display.Release(D(1));
    EXPECT_FALSE(display.HasKeyCombination()) << "the release of D1 makes no record";

    display.Press(T(2)), display.Press(C(3)), display.Press(D(4));
    display.Release(C(3)), display.Release(D(4));
    EXPECT_FALSE(display.HasKeyCombination()) << "C3 must not take the decision back from T2";
    display.Release(T(2));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({4}), 2, 4)}));
}

TEST(KeyCapture, HeldD7D8AndSpaceJoinTheNextCombination)
{
    TestDisplay display;
    display.Press(D(9));
    display.Tap(D(1));
    display.Tap(D(2));
    display.Release(D(9));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1, 9})), Chord(Dots({2, 9}))}))
        << "the release of the space key makes nothing";

    display.Tap(D(7));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({7}))})) << "D7 alone ends at its release";

    display.Press(D(7)), display.Press(D(8)), display.Release(D(7));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({7, 8}))}));
    display.Release(D(8));
    EXPECT_FALSE(display.HasKeyCombination());

    // D7 held as a capital sign over two letters, then released: no backspace.
    display.Press(D(7));
    display.Tap(D(1));
    display.Tap(D(2));
    display.Release(D(7));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1, 7})), Chord(Dots({2, 7}))}));

    // A carried key already released is not carried.
    display.Press(D(9)), display.Tap(D(1)), display.Release(D(9));
    display.Tap(D(2));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1, 9})), Chord(Dots({2}))}));
}

TEST(KeyCapture, RoutingKeysAreRecordedOnPress)
{
    TestDisplay display;
    display.Press(R(1));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(0, 0, 0, 1)}));
    display.Release(R(1));
    display.Tap(R(80));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(0, 0, 0, 80)})) << "releases make nothing";

    display.Press(D(1)), display.Press(R(5));
    display.Release(R(5)), display.Release(D(1));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1}), 0, 0, 5)}));

    // Only D7, D8 and the space key are carried; a held T key is not.
    display.Press(T(1));
    display.Tap(R(3));
    display.Tap(R(3));
    display.Release(T(1));
    EXPECT_EQ(display.TakeRecords(), Records({Chord(0, 1, 0, 3), Chord(0, 0, 0, 3)}));
}

TEST(KeyCapture, CodesOfNoKeyNeverAppearInARecord)
{
    TestDisplay display;
    const BYTE none[] = {0, 1, 21, 50, 79, 160, 255};
    for (BYTE code : none)
        display.Press(code);
    EXPECT_FALSE(display.HasKeyCombination()) << "they start no combination";
    display.Tap(D(1));
    for (BYTE code : none)
        display.Release(code);
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({1}))}));

    // The release of such a code can end a combination whose deciding keys are all up.
    display.Press(D(7)), display.Press(50), display.Release(50);
    EXPECT_EQ(display.TakeRecords(), Records({Chord(Dots({7}))}));
    display.Release(D(7));
    EXPECT_FALSE(display.HasKeyCombination());
}

TEST(KeyCapture, RecordsComeOutInTheOrderMade)
{
    TestDisplay display;
    display.Tap(T(4));
    display.Tap(C(6));
    display.Press(R(40));
    display.Tap(D(9));
    display.Release(R(40));  // a stray key-up changes nothing
    EXPECT_EQ(display.TakeRecords(), Records({Chord(0, 8), Chord(0, 0, 32), Chord(0, 0, 0, 40), Chord(Dots({9}))}));
    EXPECT_FALSE(display.HasKeyCombination());
}

}  // namespace
