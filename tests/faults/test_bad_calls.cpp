// Careless calls of the screen reader: lines far wider than the display,
// names of any length or none, and an open over an open session.
#include "FaultSession.h"

#include <fstream>

namespace faults {
namespace {

class BadCallTest : public FaultSession {};

TEST_F(BadCallTest, ALineFarWiderThanTheDisplayIsCutToIt)
{
    ASSERT_TRUE(Open());
    display->ClearFrames();
    std::string huge(1 << 20, '\x15');
    huge[0] = '\x01';
    Stopwatch watch;
    ASSERT_TRUE(driver->ShowText(huge.data(), static_cast<int>(huge.size())));
    EXPECT_LT(watch.Ms(), kPromptMs);
    ASSERT_TRUE(display->WaitForFrames(1, 2000));
    std::vector<BYTE> expected(40, 0x15);
    expected[0] = 0x01;
    EXPECT_EQ(CellFrames().at(0).payload, expected);
}

// Names are kept to 255 characters. The key map is looked for in the folder
// of the driver name however long the name is: cut to a path buffer, the
// name would point into the folder above, whose key map is not the driver's.
TEST_F(BadCallTest, NamesOfAnyLengthOrNone)
{
    const std::string base = testenv::FreshDir("longnames");
    ASSERT_LT(base.size(), 150u);
    const std::string parent = base + "\\" + std::string(200 - base.size() - 1, 'x');
    ASSERT_TRUE(CreateDirectoryA(parent.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    std::ofstream(parent + "\\kvbrl.ini") << "[Typing]\nT1=Escape\n";
    const std::string driverName = parent + "\\" + std::string(120, 'y') + "\\VK.JLB";
    const std::string displayName(1000, 'd');

    ASSERT_TRUE(driver->Open(testenv::DriverPort(1).c_str(), &callbacks, displayName.c_str(), driverName.c_str()));
    char name[1200];
    EXPECT_EQ(driver->GetDisplayName(name, sizeof name), 255);
    EXPECT_EQ(std::string(name), displayName.substr(0, 255));
    EXPECT_EQ(driver->GetDriverName(name, sizeof name), 255);
    EXPECT_EQ(std::string(name), driverName.substr(0, 255));
    callbacks.Clear();
    display->Press({T1});
    auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "T1") << "the key map of the folder above the driver's was read";
    driver->Close();

    // No names at all: the last ones stay.
    ASSERT_TRUE(driver->Open(testenv::DriverPort(1).c_str(), &callbacks, nullptr, nullptr));
    EXPECT_EQ(driver->GetDisplayName(name, sizeof name), 255);
    callbacks.Clear();
    display->Press({T1});
    got = Await(1);
    ASSERT_EQ(got.size(), 1u);
}

// The key map is the one beside the driver name; a name with no folder keeps
// the last map, and no name at all means the current folder's.
TEST_F(BadCallTest, TheKeyMapFollowsTheDriverName)
{
    const std::string beside = testenv::FreshDir("keymap-beside");
    const std::string current = testenv::FreshDir("keymap-current");
    std::ofstream(beside + "\\kvbrl.ini") << "[Typing]\nT1=Escape\n";
    std::ofstream(current + "\\kvbrl.ini") << "[Typing]\nT1=Tab\n";
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryA(current.c_str()));
    auto t1With = [&](const char* driverName) {
        driver->Close();
        callbacks.Clear();
        if (!driver->Open(testenv::DriverPort(1).c_str(), &callbacks, "Cellivanta VK", driverName))
            return std::string("(open failed)");
        display->Press({T1});
        const auto got = Await(1);
        return got.size() == 1 ? got[0].name : std::to_string(got.size()) + " deliveries";
    };
    EXPECT_EQ(t1With((beside + "\\VK.JLB").c_str()), "qwerty:Escape");
    EXPECT_EQ(t1With("VK.JLB"), "qwerty:Escape") << "a name without a folder keeps the last key map";
    EXPECT_EQ(t1With(nullptr), "qwerty:Tab") << "no name reads .\\kvbrl.ini";
    SetCurrentDirectoryA(before);
}

// The screen reader opens again without closing: one session remains, with
// one braille thread, and each key arrives once.
TEST_F(BadCallTest, OpenOverAnOpenSession)
{
    ASSERT_TRUE(Open());
    const int threadsOpen = ThreadCountOfProcess();
    ASSERT_TRUE(Open());
    // A thread that has just ended may still be listed for a moment.
    PumpUntil([&] { return ThreadCountOfProcess() <= threadsOpen; }, 2000);
    EXPECT_EQ(ThreadCountOfProcess(), threadsOpen) << "a second braille thread or port worker";
    callbacks.Clear();
    display->Press({T1});
    display->SendRaw(RoutingPress(3));
    const auto got = Await(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].name, "T1");
    EXPECT_EQ(got[1].routing, 3);
    driver->Close();
    EXPECT_FALSE(driver->ShowText("\x01", 1)) << "Close ended the only session";
}

}  // namespace
}  // namespace faults
