// The key map that ships with the driver does what its comments promise.
#include "KeyMapTest.h"

#include <cstdlib>

using namespace keytest;

namespace {

// Dot patterns of the letters a to z.
const DWORD kLetters[26] = {
    0x01, 0x03, 0x09, 0x19, 0x11, 0x0B, 0x1B, 0x13, 0x0A, 0x1A, 0x05, 0x07, 0x0D,
    0x1D, 0x15, 0x0F, 0x1F, 0x17, 0x0E, 0x1E, 0x25, 0x27, 0x3A, 0x2D, 0x3D, 0x35,
};
const Keys kControl = Chord(0, 0, 0x01), kShift = Chord(0, 0, 0x04), kFunction = Chord(0, 0, 0x20);

class DefaultKeyMap : public KeyMapTest {
protected:
    void SetUp() override
    {
        KeyMapTest::SetUp();
        map = testenv::SourceDir() + "\\driver\\keys\\kvbrl.ini";
        ASSERT_NE(GetFileAttributesA(map.c_str()), INVALID_FILE_ATTRIBUTES) << map;
    }
    std::string map;
};

TEST_F(DefaultKeyMap, LettersStillType)
{
    for (int i = 0; i < 26; ++i) {
        SCOPED_TRACE(std::string("letter ") + static_cast<char>('a' + i));
        for (DWORD extra : {0x00u, 0x40u, 0x80u}) {  // plain, with dot 7, with dot 8
            const DWORD dots = kLetters[i] | extra;
            EXPECT_TRUE(IsDots(Translate(Chord(dots), map), static_cast<WORD>(dots)));
        }
    }
    EXPECT_TRUE(IsDots(Translate(Chord(Dots({9})), map), 0x100)) << "space";
}

TEST_F(DefaultKeyMap, CKeysAreModifiers)
{
    EXPECT_TRUE(IsHeld(Translate(kControl, map), "Control"));
    EXPECT_TRUE(IsDots(Translate(Chord(kLetters[0]), map), 0x01, "qwerty:Control"));
    EXPECT_TRUE(IsHeld(Translate(Chord(0, 0, 0x10), map), "Windows"));
    EXPECT_TRUE(IsHeld(Translate(Chord(0, 0, 0x05), map), "Control+Shift"));
    EXPECT_TRUE(IsDots(Translate(Chord(kLetters[18]), map), kLetters[18], "qwerty:Control+Shift"));
    EXPECT_TRUE(IsHeld(Translate(kControl, map), "Control"));
    EXPECT_TRUE(IsName(Translate(Chord(Dots({8})), map), "qwerty:Control+Enter"));
    EXPECT_TRUE(IsHeld(Translate(kShift, map), "Shift"));
    EXPECT_TRUE(IsName(Translate(Chord(Dots({2, 3, 4, 5, 9})), map), "qwerty:Shift+Tab"));
}

TEST_F(DefaultKeyMap, FunctionKeysFromTheLettersAToL)
{
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(IsHeld(Translate(kFunction, map), "Function"));
        EXPECT_TRUE(IsName(Translate(Chord(kLetters[i]), map), "qwerty:F" + std::to_string(i + 1)));
    }
    EXPECT_TRUE(IsHeld(Translate(Chord(0, 0, 0x22), map), "Alt+Function"));
    EXPECT_TRUE(IsName(Translate(Chord(kLetters[3]), map), "qwerty:Alt+F4"));
    // A waiting "Function" is given up by pressing another C key.
    EXPECT_TRUE(IsHeld(Translate(kFunction, map), "Function"));
    EXPECT_TRUE(IsDropped(Translate(Chord(Dots({2}), 1), map), kCapacity));
    EXPECT_TRUE(IsHeld(Translate(kControl, map), "Control"));
    EXPECT_TRUE(IsDots(Translate(Chord(kLetters[0]), map), 0x01, "qwerty:Control"));
}

TEST_F(DefaultKeyMap, EditingAndMovingKeys)
{
    const struct {
        DWORD dots;
        const char* key;
    } keys[] = {
        {Dots({7}), "Backspace"},          {Dots({8}), "Enter"},
        {Dots({7, 9}), "Backspace"},       {Dots({8, 9}), "Enter"},
        {Dots({1, 9}), "UpArrow"},         {Dots({4, 9}), "DownArrow"},
        {Dots({3, 9}), "LeftArrow"},       {Dots({6, 9}), "RightArrow"},
        {Dots({1, 3, 9}), "Home"},         {Dots({4, 6, 9}), "End"},
        {Dots({1, 2, 3, 9}), "PageUp"},    {Dots({4, 5, 6, 9}), "PageDown"},
        {Dots({1, 5, 9}), "Escape"},       {Dots({1, 4, 5, 9}), "Delete"},
        {Dots({2, 3, 4, 5, 9}), "Tab"},
    };
    for (const auto& k : keys)
        EXPECT_TRUE(IsName(Translate(Chord(k.dots), map), std::string("qwerty:") + k.key)) << k.key;
}

// From the keys as the user presses them: space held, dot 4 three times;
// dot 7 held as a capital sign; dot 7 tapped alone.
TEST_F(DefaultKeyMap, PressedKeysReachTheKeyMap)
{
    display.Press(D(9));
    for (int i = 0; i < 3; ++i)
        display.Tap(D(4));
    display.Release(D(9));
    display.Press(D(7));
    display.Tap(D(1));
    display.Release(D(7));
    display.Tap(D(7));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(IsName(TranslateQueued(map.c_str()), "qwerty:DownArrow"));
    EXPECT_TRUE(IsDots(TranslateQueued(map.c_str()), 0x41));
    EXPECT_TRUE(IsName(TranslateQueued(map.c_str()), "qwerty:Backspace"));
    EXPECT_FALSE(display.HasKeyCombination());
}

}  // namespace
