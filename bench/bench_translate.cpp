// bench_translate: the cost of one translation with the shipped key map and
// with a large one.
#include "BenchReport.h"
#include "TestDisplay.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace keytest;

namespace {

const int kCapacity = 1000;  // what the dispatch passes

class TranslationCost {
public:
    // The pending modifier outlives a translation: deliver one combination
    // without a key map so that the figures start with none.
    TranslationCost() { Translate(Keys{0, 1}, ""); }

    void Report(const std::string& what, const std::string& map, const std::vector<Keys>& chords)
    {
        const double us = Measure(map, chords, 2000);
        bench::Report("translation, " + what, us, "us", "one poll period", 100000);
    }

private:
    // Microseconds per translation of the given chords, cycled.
    double Measure(const std::string& map, const std::vector<Keys>& chords, int count)
    {
        testenv::Stopwatch watch;
        for (int i = 0; i < count; ++i)
            Translate(chords[i % chords.size()], map);
        return watch.Us() / count;
    }

    void Translate(const Keys& keys, const std::string& iniPath)
    {
        m_display.Push(keys);
        char buffer[kCapacity] = "untouched";
        int length = kCapacity, routing = 0;
        WORD dots = 0;
        m_display.TranslateKeyCombinationForJaws(iniPath.empty() ? nullptr : iniPath.c_str(), buffer, length,
                                                  routing, dots);
    }

    TestDisplay m_display;
};

// 2000 Typing entries named by D and T keys, listed before the sections read
// after them so that lookups scan the whole file.
std::string WriteLargeKeyMap()
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
    const std::string path = testenv::FreshDir("bench-keys") + "\\large.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text.str();
    return path;
}

}  // namespace

int main()
{
    const std::string shipped = testenv::SourceDir() + "\\driver\\keys\\kvbrl.ini";
    if (!testenv::FileExists(shipped)) {
        fprintf(stderr, "no key map at %s: VKTEST_SOURCE_DIR must name the source tree\n", shipped.c_str());
        return 1;
    }
    const std::string large = WriteLargeKeyMap();
    const std::vector<Keys> letters = {Chord(0x01), Chord(0x19), Chord(0x1E)};
    const std::vector<Keys> listed = {Chord(Dots({1, 9})), Chord(Dots({7}))};
    TranslationCost cost;
    cost.Report("shipped key map, letters (2 reads)", shipped, letters);
    cost.Report("shipped key map, listed keys (2 reads)", shipped, listed);
    cost.Report("2000 entries, last entry (2 reads)", large, {Chord(1999 % 512, 1 + 1999 / 512)});
    cost.Report("2000 entries, first entry (2 reads)", large, {Chord(0, 1)});
    cost.Report("2000 entries, unlisted letter (2 reads)", large, letters);
    cost.Report("no key map (no read)", "", letters);
    return 0;
}
