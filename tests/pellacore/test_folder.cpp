// GetThirdPartyFolderFromRegistry: the folder is read from the 64-bit view of
// the registry, only when it fits with room to spare, and never past the
// value's own size; on every failure the caller's buffer stays as it was.
#include "GuardedBuffer.h"
#include "PellacoreLibrary.h"
#include "ScopedRegistryKey.h"

#include <gtest/gtest.h>

namespace {

const char kVendorKey[] = "Software\\Freedom Scientific";
const char kVersionKey[] = "ThirdPartyBraille\\1.0";

class ThirdPartyFolderTest : public ::testing::Test {
protected:
    // Calls with the buffer and its size, as the setup would.
    int Call(GuardedBuffer& buffer) { return Pellacore().GetThirdPartyFolderFromRegistry(buffer.Size(), buffer.Data()); }

    ScopedRegistryKey key64{kVendorKey, KEY_WOW64_64KEY};
    ScopedRegistryKey key32{kVendorKey, KEY_WOW64_32KEY};
};

TEST_F(ThirdPartyFolderTest, ReadsTheSixtyFourBitView)
{
    key64.SetText(kVersionKey, "Target", "C:\\Braille\\Others");
    key32.SetText(kVersionKey, "Target", "C:\\Wrong\\View");
    GuardedBuffer buffer(100);
    EXPECT_EQ(Call(buffer), 1);
    EXPECT_EQ(buffer.Text(), "C:\\Braille\\Others");
    EXPECT_TRUE(buffer.GuardsIntact());
}

TEST_F(ThirdPartyFolderTest, MissingKeyOrValueLeavesTheBuffer)
{
    key32.SetText(kVersionKey, "Target", "C:\\Wrong\\View");
    GuardedBuffer noKey(100);
    EXPECT_EQ(Call(noKey), 0);
    EXPECT_TRUE(noKey.Unchanged());

    key64.SetText(kVersionKey, "Other", "C:\\Braille\\Others");
    GuardedBuffer noValue(100);
    EXPECT_EQ(Call(noValue), 0);
    EXPECT_TRUE(noValue.Unchanged());
}

TEST_F(ThirdPartyFolderTest, ValueMustFitWithRoomToSpare)
{
    key64.SetText(kVersionKey, "Target", "C:\\x");  // 5 bytes with its terminator
    GuardedBuffer fits(6);
    EXPECT_EQ(Call(fits), 1);
    EXPECT_EQ(fits.Text(), "C:\\x");
    EXPECT_TRUE(fits.GuardsIntact());
    for (int nSize : {5, 2, 1}) {
        GuardedBuffer tooSmall(nSize, "");
        EXPECT_EQ(Call(tooSmall), 0) << nSize;
        EXPECT_TRUE(tooSmall.Unchanged()) << nSize;
    }
}

TEST_F(ThirdPartyFolderTest, UnterminatedValueOfAnyTypeIsReadToItsSize)
{
    key64.SetValue(kVersionKey, "Target", REG_BINARY, "D:\\Bin", 6);
    GuardedBuffer buffer(7);
    EXPECT_EQ(Call(buffer), 1);
    EXPECT_EQ(buffer.Text(), "D:\\Bin");
    EXPECT_TRUE(buffer.GuardsIntact());

    // 260 bytes is the most ever read, with or without a terminator.
    std::string longest(260, 'L');
    key64.SetValue(kVersionKey, "Target", REG_BINARY, longest.data(), 260);
    GuardedBuffer large(400);
    EXPECT_EQ(Call(large), 1);
    EXPECT_EQ(large.Text(), longest);
    key64.SetValue(kVersionKey, "Target", REG_BINARY, (longest + "L").data(), 261);
    GuardedBuffer tooLong(400);
    EXPECT_EQ(Call(tooLong), 0);
    EXPECT_TRUE(tooLong.Unchanged());
}

TEST_F(ThirdPartyFolderTest, BadArgumentsWriteNothing)
{
    key64.SetText(kVersionKey, "Target", "C:\\Braille\\Others");
    for (int nSize : {0, -1, -100}) {
        GuardedBuffer buffer(16);
        EXPECT_EQ(Pellacore().GetThirdPartyFolderFromRegistry(nSize, buffer.Data()), 0) << nSize;
        EXPECT_TRUE(buffer.Unchanged()) << nSize;
    }
    EXPECT_EQ(Pellacore().GetThirdPartyFolderFromRegistry(100, nullptr), 0);
}

}  // namespace
