// The test environment's port pairs: bytes written at one end arrive at the
// other, and a pulled pair comes back when replugged.
#include "DriverEnv.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

HANDLE OpenPlain(const std::string& port)
{
    HANDLE h = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        COMMTIMEOUTS t{0, 0, 2000, 0, 2000};
        SetCommTimeouts(h, &t);
    }
    return h;
}

// Five bytes written at one end arrive whole at the other.
void ExpectCarries(HANDLE from, HANDLE to, const char* way)
{
    const char out[] = {0x1B, 0x00, 0x00, 'v', 'k'};
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(from, out, sizeof out, &n, nullptr)) << way;
    char in[sizeof out] = {};
    DWORD got = 0;
    while (got < sizeof in) {
        ASSERT_TRUE(ReadFile(to, in + got, sizeof in - got, &n, nullptr)) << way;
        ASSERT_GT(n, 0u) << "nothing arrived " << way;
        got += n;
    }
    EXPECT_EQ(memcmp(in, out, sizeof out), 0) << way;
}

void ExpectCarries(int pair)
{
    HANDLE driverEnd = OpenPlain(testenv::DriverPort(pair));
    HANDLE displayEnd = OpenPlain(testenv::DisplayPort(pair));
    ASSERT_NE(driverEnd, INVALID_HANDLE_VALUE);
    ASSERT_NE(displayEnd, INVALID_HANDLE_VALUE);
    const std::string name = "on pair " + std::to_string(pair);
    ExpectCarries(driverEnd, displayEnd, (name + " to the display").c_str());
    ExpectCarries(displayEnd, driverEnd, (name + " to the driver").c_str());
    CloseHandle(driverEnd);
    CloseHandle(displayEnd);
}

// The pairs named to a program of the test bundle (--pairs).
TEST(Ports, PairsAreReadFromTheirOption)
{
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    const struct {
        const char* list;
        Pairs pairs;
    } cases[] = {
        {"COM11:COM21", {{"COM11", "COM21"}}},
        {"COM5:COM6,COM7:COM8", {{"COM5", "COM6"}, {"COM7", "COM8"}}},
        {"COM5:COM6,,COM7:COM8,", {{"COM5", "COM6"}, {"COM7", "COM8"}}},
        {"COM5,COM6:,:COM7,COM8:COM9", {{"COM8", "COM9"}}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(portpairs::ParsePairs(c.list), c.pairs) << c.list;
}

TEST(Ports, EveryPairCarriesBytesBothWays)
{
    for (int pair = 1; pair <= testenv::kPairCount; ++pair)
        ExpectCarries(pair);
}

TEST(Ports, APulledPairIsGoneUntilReplugged)
{
    VK_SKIP_IF(testenv::WhyNoPulls());
    ASSERT_TRUE(testenv::UnplugPair(2));
    // Wine may still hand out a handle for the vanished device, but nothing
    // can be written through it.
    HANDLE h = OpenPlain(testenv::DriverPort(2));
    if (h != INVALID_HANDLE_VALUE) {
        DWORD n = 0;
        EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
        CloseHandle(h);
    }
    ASSERT_TRUE(testenv::ReplugPair(2));
    ExpectCarries(2);
}

}  // namespace
