// Cost of one translation with the shipped key map and with a large one.
// Prints figures only; `make bench` runs it (bench_translate).
#include "KeyMapTest.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

using namespace keytest;

namespace {

class TranslationCost : public KeyMapTest {
protected:
    // Microseconds per translation of the given chords, cycled.
    double Measure(const std::string& map, const std::vector<Keys>& chords, int count)
    {
        LARGE_INTEGER frequency, start, stop;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        for (int i = 0; i < count; ++i)
            Translate(chords[i % chords.size()], map);
        QueryPerformanceCounter(&stop);
        return 1e6 * static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart / count;
    }

    void Report(const char* what, const std::string& map, const std::vector<Keys>& chords)
    {
        // In the form that scripts/bench.sh gathers into its table.
        const double us = Measure(map, chords, 2000);
        printf("BENCH|translation, %s|%.3f|us|one poll period|100000|%.6f\n", what, us, us / 100000);
    }
};

// 2000 Typing entries named by D and T keys, listed before the sections read
// after them so that lookups scan the whole file.
std::string LargeKeyMap()
{
    std::ostringstream text;
    text << "[Typing]\r\n";
    for (int i = 0; i < 2000; ++i) {
        Keys k = Chord(i % 512, 1 + i / 512);
        std::string name;
        CCellivantaKeyCombination record;
        record.SetDKeys(k.d), record.SetTKeys(k.t);
        record.TranslateKeyCombination(name);
        text << name << "=Key" << i << "\r\n";
    }
    text << "[Typing Modifiers]\r\nC1=Control\r\n[Function Keys]\r\nD1=1\r\n";
    return text.str();
}

TEST_F(TranslationCost, DISABLED_PerCombination)
{
    const char* source = getenv("VKTEST_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::string shipped = testenv::WinPath(std::string(source) + "/driver/keys/kvbrl.ini");
    const std::string large = WriteKeyMap(LargeKeyMap(), "large.ini");
    const std::vector<Keys> letters = {Chord(0x01), Chord(0x19), Chord(0x1E)};
    const std::vector<Keys> listed = {Chord(Dots({1, 9})), Chord(Dots({7}))};
    Report("shipped key map, letters (2 reads)", shipped, letters);
    Report("shipped key map, listed keys (2 reads)", shipped, listed);
    Report("2000 entries, last entry (2 reads)", large, {Chord(1999 % 512, 1 + 1999 / 512)});
    Report("2000 entries, first entry (2 reads)", large, {Chord(0, 1)});
    Report("2000 entries, unlisted letter (2 reads)", large, letters);
    Report("no key map (no read)", "", letters);
}

}  // namespace
