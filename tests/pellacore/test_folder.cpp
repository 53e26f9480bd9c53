// GetThirdPartyFolderFromRegistry: the folder is read from the 64-bit view of
// the registry, only when it fits with room to spare, and never past the
// value's own size; on every failure the caller's buffer stays as it was.
#include "GuardedBuffer.h"
#include "PellacoreLibrary.h"
#include "ScopedRegistryKey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

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

// 260 characters with the terminator is the most ever read.
TEST_F(ThirdPartyFolderTest, TheLongestFolderReadIsTwoHundredFiftyNineCharacters)
{
    std::string longest(259, 'L');
    key64.SetText(kVersionKey, "Target", longest);
    GuardedBuffer large(400);
    EXPECT_EQ(Call(large), 1);
    EXPECT_EQ(large.Text(), longest);
    EXPECT_TRUE(large.GuardsIntact());
    key64.SetText(kVersionKey, "Target", longest + "L");
    GuardedBuffer tooLong(400);
    EXPECT_EQ(Call(tooLong), 0);
    EXPECT_TRUE(tooLong.Unchanged());
}

// A folder named through the environment is handed out expanded with the
// system's variables, never this process's own (an elevated setup's are the
// user's); a value that is no text at all names no folder, and the wide
// answer tells such a value from a missing one.
TEST_F(ThirdPartyFolderTest, ExpandsAnExpandableValueAndRefusesOtherTypes)
{
    char expected[MAX_PATH] = {};
    ExpandEnvironmentStringsA("%SystemRoot%\\Braille", expected, MAX_PATH);
    key64.SetValue(kVersionKey, "Target", REG_EXPAND_SZ, "%SystemRoot%\\Braille", 21);
    char systemRoot[MAX_PATH] = {};
    GetEnvironmentVariableA("SystemRoot", systemRoot, MAX_PATH);
    SetEnvironmentVariableA("SystemRoot", "C:\\planted");
    SetEnvironmentVariableA("VKTEST_USERS_OWN", "C:\\planted");
    GuardedBuffer buffer(100);
    EXPECT_EQ(Call(buffer), 1);
    EXPECT_EQ(buffer.Text(), expected);
    key64.SetValue(kVersionKey, "Target", REG_EXPAND_SZ, "%VKTEST_USERS_OWN%\\x", 21);
    wchar_t unknown[100] = L"";
    EXPECT_EQ(Pellacore().GetThirdPartyFolderFromRegistryW(100, unknown), 2) << "a variable of the user's only";
    SetEnvironmentVariableA("SystemRoot", systemRoot);
    key64.SetValue(kVersionKey, "Target", REG_EXPAND_SZ, "%SystemRoot%\\Braille", 21);
    GuardedBuffer tooSmall(static_cast<int>(strlen(expected)), "");
    EXPECT_EQ(Call(tooSmall), 0) << "the expanded folder must fit";
    EXPECT_TRUE(tooSmall.Unchanged());
    const DWORD number = 42;
    for (DWORD type : {REG_BINARY, REG_DWORD, REG_MULTI_SZ}) {
        key64.SetValue(kVersionKey, "Target", type, type == REG_DWORD ? reinterpret_cast<const char*>(&number) : "C:\\x\0", type == REG_DWORD ? 4 : 6);
        GuardedBuffer refused(100);
        EXPECT_EQ(Call(refused), 0) << type;
        EXPECT_TRUE(refused.Unchanged()) << type;
        wchar_t wide[100] = L"";
        EXPECT_EQ(Pellacore().GetThirdPartyFolderFromRegistryW(100, wide), 2) << type;
    }
}

// A folder with a character outside the code page (Cyrillic here, under the
// tests' Western code page): the narrow answer would name another folder, so
// it gives none; the wide answer is the folder itself.
TEST_F(ThirdPartyFolderTest, AFolderOutsideTheCodePageIsGivenOnlyWide)
{
    const wchar_t folder[] = L"C:\\Braille\\\x0414\x0438\x0441\x043f\x043b\x0435\x0439";
    key64.Create(kVersionKey);
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Freedom Scientific\\ThirdPartyBraille\\1.0", 0,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, &hKey),
              ERROR_SUCCESS);
    RegSetValueExW(hKey, L"Target", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder), sizeof folder);
    RegCloseKey(hKey);
    GuardedBuffer narrow(100);
    EXPECT_EQ(Call(narrow), 0) << narrow.Text();
    EXPECT_TRUE(narrow.Unchanged());

    wchar_t wide[100] = L"";
    EXPECT_EQ(Pellacore().GetThirdPartyFolderFromRegistryW(100, wide), 1);
    EXPECT_EQ(std::wstring(wide), folder);
    // The same limits as the narrow one, in characters: the value with its
    // stored terminator must fit with room to spare.
    const int cchValue = static_cast<int>(wcslen(folder)) + 1;
    wchar_t small[100] = L"unchanged";
    EXPECT_EQ(Pellacore().GetThirdPartyFolderFromRegistryW(cchValue, small), 2);
    EXPECT_EQ(std::wstring(small), L"unchanged");
    EXPECT_EQ(Pellacore().GetThirdPartyFolderFromRegistryW(cchValue + 1, small), 1);

    // An accented folder in the code page still comes narrow, as stored.
    key64.SetText(kVersionKey, "Target", "C:\\Lecteurs d'\xe9\x63ran");
    GuardedBuffer western(100);
    EXPECT_EQ(Call(western), 1);
    EXPECT_EQ(western.Text(), "C:\\Lecteurs d'\xe9\x63ran");
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
