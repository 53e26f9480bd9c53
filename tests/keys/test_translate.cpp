// Naming of records and their translation through a key map file: command
// names, "qwerty:" keyboard names with modifiers, function keys and dots.
#include "KeyMapTest.h"

using namespace keytest;

namespace {

const char kKeyMap[] =
    "[Typing Modifiers]\r\n"
    "C1=Control\r\n"
    "C2=Alt\r\n"
    "C6=Function\r\n"
    "C1+C6=Control+Function\r\n"
    "[Typing]\r\n"
    "D7=Backspace\r\n"
    "D1+D9=UpArrow\r\n"
    "Routing=Home\r\n"
    "[Function Keys]\r\n"
    "D1=5\r\n"
    "D2+T1+Routing=9\r\n";

const DWORD kA = 0x01, kB = 0x03;
const Keys kC1 = Chord(0, 0, 0x01), kC2 = Chord(0, 0, 0x02), kC6 = Chord(0, 0, 0x20);

TEST_F(KeyMapTest, NamesFollowTheFixedKeyOrder)
{
    EXPECT_TRUE(IsName(Translate(Chord(Dots({1, 2}), 1), ""), "D1+D2+T1"));
    EXPECT_TRUE(IsName(Translate(Chord(Dots({9}), 0, 4), ""), "D9+C3"));
    EXPECT_TRUE(IsName(Translate(Chord(0, 0, 0, 17), ""), "Routing", 17));
    EXPECT_TRUE(IsName(Translate(Chord(0, 1, 0, 2), ""), "T1+Routing", 2));
    EXPECT_TRUE(IsName(Translate(Chord(0x1FF, 0xF, 0x3F, 80), ""),
                       "D1+D2+D3+D4+D5+D6+D7+D8+D9+T1+T2+T3+T4+C1+C2+C3+C4+C5+C6+Routing", 80));
}

// Without a readable key map: dots for typing chords, names for the rest, no modifiers.
TEST_F(KeyMapTest, WithoutKeyMapOnlyDotsAndNames)
{
    const std::string empty = WriteKeyMap("", "empty.ini");
    for (const std::string& path : {std::string(), empty + ".missing", empty}) {
        SCOPED_TRACE("key map '" + path + "'");
        EXPECT_TRUE(IsDots(Translate(Chord(kA), path), 0x0001));
        EXPECT_TRUE(IsDots(Translate(Chord(Dots({9})), path), 0x0100));
        EXPECT_TRUE(IsDots(Translate(Chord(Dots({1, 8})), path), 0x0081));
        EXPECT_TRUE(IsName(Translate(Chord(Dots({1, 9})), path), "D1+D9"));
        EXPECT_TRUE(IsName(Translate(Chord(0, 1), path), "T1"));
        EXPECT_TRUE(IsName(Translate(kC1, path), "C1"));
        EXPECT_TRUE(IsDots(Translate(Chord(0), path), 0)) << "an empty combination delivers nothing";
    }
}

TEST_F(KeyMapTest, ModifierWaitsForTheNextCombination)
{
    const std::string map = WriteKeyMap(kKeyMap);
    EXPECT_TRUE(IsHeld(Translate(kC1, map), "Control"));
    EXPECT_TRUE(IsDots(Translate(Chord(kB), map), kB, "qwerty:Control"));
    EXPECT_TRUE(IsDots(Translate(Chord(kB), map), kB)) << "used up by one combination";

    EXPECT_TRUE(IsHeld(Translate(kC1, map), "Control"));
    EXPECT_TRUE(IsName(Translate(Chord(Dots({7})), map), "qwerty:Control+Backspace"));
    EXPECT_TRUE(IsName(Translate(Chord(Dots({7})), map), "qwerty:Backspace")) << "a listed typing chord has no dots";

    EXPECT_TRUE(IsHeld(Translate(kC1, map), "Control"));
    EXPECT_TRUE(IsHeld(Translate(kC2, map), "Alt"));
    EXPECT_TRUE(IsDots(Translate(Chord(kA), map), kA, "qwerty:Alt")) << "the second modifier replaces the first";

    EXPECT_TRUE(IsHeld(Translate(kC1, map), "Control"));
    EXPECT_TRUE(IsName(Translate(Chord(Dots({2}), 1), map), "D2+T1")) << "a command goes under its own name";
    EXPECT_TRUE(IsDots(Translate(Chord(kA), map), kA)) << "and drops the modifier";
}

TEST_F(KeyMapTest, TypingEntriesGiveKeyboardNames)
{
    const std::string map = WriteKeyMap(kKeyMap);
    EXPECT_TRUE(IsName(Translate(Chord(Dots({1, 9})), map), "qwerty:UpArrow"));
    EXPECT_TRUE(IsName(Translate(Chord(0, 0, 0, 12), map), "qwerty:Home", 12)) << "routing index passed through";
    EXPECT_TRUE(IsName(Translate(Chord(Dots({2, 9})), map), "D2+D9"));
}

TEST_F(KeyMapTest, FunctionModifierTakesOnlyFunctionKeys)
{
    const std::string map = WriteKeyMap(kKeyMap);
    EXPECT_TRUE(IsHeld(Translate(kC6, map), "Function"));
    EXPECT_TRUE(IsName(Translate(Chord(kA), map), "qwerty:F5"));
    EXPECT_TRUE(IsDots(Translate(Chord(kA), map), kA)) << "used up";

    EXPECT_TRUE(IsHeld(Translate(kC6, map), "Function"));
    for (const Keys& unlisted : {Chord(kB), Chord(Dots({7})), Chord(0, 1), Chord(0, 0, 0, 3)})
        EXPECT_TRUE(IsDropped(Translate(unlisted, map), kCapacity)) << unlisted;
    EXPECT_FALSE(display.HasKeyCombination()) << "dropped records are consumed";
    EXPECT_TRUE(IsName(Translate(Chord(Dots({2}), 1, 0, 7), map), "qwerty:F9", 7)) << "still pending";

    EXPECT_TRUE(IsHeld(Translate(Chord(0, 0, 0x21), map), "Control+Function"));
    EXPECT_TRUE(IsName(Translate(Chord(kA), map), "qwerty:Control+F5"));
}

TEST_F(KeyMapTest, KeyMapChangesApplyAtTheNextCombination)
{
    const std::string map = WriteKeyMap("[Typing]\r\nD7=Backspace\r\n", "changing.ini");
    EXPECT_TRUE(IsName(Translate(Chord(Dots({7})), map), "qwerty:Backspace"));
    WriteKeyMap("[Typing]\r\nD7=Delete\r\n", "changing.ini");
    EXPECT_TRUE(IsName(Translate(Chord(Dots({7})), map), "qwerty:Delete"));
}

TEST_F(KeyMapTest, EmptyQueueWritesNothing)
{
    Translated t = TranslateQueued(nullptr);
    EXPECT_FALSE(t.result);
    EXPECT_EQ(t.name, "untouched");
    EXPECT_EQ(t.length, kCapacity);
    EXPECT_EQ(t.routing, -7);
    EXPECT_EQ(t.dots, 0xBEEF);
}

// Names are never written past the caller's buffer. A keyboard name that
// does not fit is refused whole (a cut one would press the wrong key); a
// modifier that does not fit counts as a plain combination.
TEST_F(KeyMapTest, NamesThatDoNotFitAreNotCut)
{
    const std::string text(499, 'x');
    const std::string map = WriteKeyMap(
        "[Typing Modifiers]\r\nC1=" + text + "\r\nC2=Alt\r\n[Typing]\r\nD7=" + text + "\r\nD8=Enter\r\n", "long.ini");
    EXPECT_TRUE(IsHeld(Translate(kC1, map), text));
    Translated refused = Translate(Chord(Dots({7})), map);  // 1006 characters
    EXPECT_FALSE(refused.result);
    EXPECT_EQ(refused.name, "");
    EXPECT_EQ(refused.length, 0);
    EXPECT_FALSE(display.HasKeyCombination());
    // Like any dropped combination it leaves the modifier waiting.
    EXPECT_TRUE(IsName(Translate(Chord(Dots({8})), map), "qwerty:" + text + "+Enter"));

    EXPECT_TRUE(IsName(Translate(Chord(Dots({8})), map, 13), "qwerty:Enter")) << "fits with its terminator";
    refused = Translate(Chord(Dots({8})), map, 12);
    EXPECT_FALSE(refused.result);
    EXPECT_EQ(refused.name, "");
    EXPECT_EQ(refused.length, 0);

    EXPECT_TRUE(IsName(Translate(kC2, map, 3), "C2")) << "Alt needs 4 bytes";
    EXPECT_TRUE(IsDots(Translate(Chord(kA), map), kA)) << "and no modifier is pending";
}

}  // namespace
