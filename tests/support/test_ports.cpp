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

void ExpectCarries(int pair)
{
    HANDLE a = OpenPlain(testenv::DriverPort(pair));
    HANDLE b = OpenPlain(testenv::DisplayPort(pair));
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    const char out[] = {0x1B, 0x00, 0x00, 'v', 'k'};
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(a, out, sizeof out, &n, nullptr));
    char in[sizeof out] = {};
    DWORD got = 0;
    while (got < sizeof in) {
        ASSERT_TRUE(ReadFile(b, in + got, sizeof in - got, &n, nullptr));
        ASSERT_GT(n, 0u) << "nothing arrived on pair " << pair;
        got += n;
    }
    EXPECT_EQ(memcmp(in, out, sizeof out), 0);
    CloseHandle(a);
    CloseHandle(b);
}

TEST(Ports, EveryPairCarriesBytesBothWays)
{
    for (int pair = 1; pair <= testenv::kPairCount; ++pair)
        ExpectCarries(pair);
}

TEST(Ports, APulledPairIsGoneUntilReplugged)
{
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
