// The screen reader's view of VK.JLB before any display is opened: every slot
// of the interface answered through the loaded library, so a wrong slot order
// or a wrong answer shows here.
#include "DriverEnv.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const GUID kNullGuid = {};

class InterfaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver = testenv::LoadDriver();
        ASSERT_NE(driver, nullptr) << "VK.JLB did not load";
    }
    IBrailleDriver* driver = nullptr;
};

TEST_F(InterfaceTest, ExportHandsOutTheOneDriverObject)
{
    HMODULE module = GetModuleHandleA("VK.JLB");
    auto get = reinterpret_cast<PFN_GetBrailleInterface>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetBrailleInterface")));
    ASSERT_NE(get, nullptr);
    IBrailleDriver* first = nullptr;
    IBrailleDriver* second = nullptr;
    EXPECT_EQ(get(&first), first);
    get(&second);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, driver);
}

TEST_F(InterfaceTest, FixedAnswersOfEverySlot)
{
    EXPECT_EQ(driver->GetInterfaceVersion(), 0x300);
    EXPECT_EQ(driver->GetDriverVersion(), 1070);
    EXPECT_EQ(driver->GetDisplayVersion(), 0);
    EXPECT_FALSE(driver->HasIntegratedSpeech());
    EXPECT_EQ(driver->Reserved10(7), 0);
    EXPECT_EQ(driver->Reserved14(7), 0);
    EXPECT_EQ(driver->Reserved15(7), 0);
    driver->Reserved17(7);
    EXPECT_EQ(driver->Reserved19(7), 0);
    EXPECT_EQ(driver->Reserved24(7), 0);
    EXPECT_EQ(driver->Reserved25(7), 0);
    EXPECT_EQ(driver->Reserved26(7), 0);
    EXPECT_EQ(driver->GetTextCellCount(), 0);
    EXPECT_EQ(driver->GetStatusCellCount(), 0);
    EXPECT_EQ(driver->GetTotalCellCount(), 0);
    EXPECT_FALSE(driver->SupportsCustomLayout());
    EXPECT_FALSE(driver->SetCustomLayout(0, 40, 0, 0));
    int levels = 1234;
    EXPECT_FALSE(driver->SupportsFirmnessSetting(&levels));
    EXPECT_EQ(levels, 1234) << "the firmness levels are read, never written";
    EXPECT_FALSE(driver->SupportsFirmnessSetting(nullptr));
    EXPECT_FALSE(driver->SetFirmness(3));
    EXPECT_FALSE(driver->IsKeyWaiting());
    EXPECT_EQ(driver->GetTypeKeysMode(), 0);
    EXPECT_FALSE(driver->SupportsTypeKeysMode());
}

TEST_F(InterfaceTest, ModeSettersChangeNothing)
{
    driver->SetOneHandedMode(1);
    driver->SetTypeKeysMode(1);
    driver->SetTriKeyProcessingMode(1);
    driver->SetControlKeyProcessingMode(1);
    EXPECT_EQ(driver->GetTypeKeysMode(), 0);
    EXPECT_FALSE(driver->SupportsTypeKeysMode());
    EXPECT_FALSE(driver->IsKeyWaiting());
    EXPECT_EQ(driver->GetTotalCellCount(), 0);
    char name[32];
    EXPECT_EQ(driver->GetDisplayKeyMapName(name, sizeof name), 13);
}

TEST_F(InterfaceTest, NamesAreEmptyBeforeTheFirstOpen)
{
    char name[16];
    memset(name, 'x', sizeof name);
    EXPECT_EQ(driver->GetDisplayName(name, sizeof name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(name[15], 0) << "the rest of the buffer is zero-filled";
    memset(name, 'x', sizeof name);
    EXPECT_EQ(driver->GetDriverName(name, sizeof name), 0);
    EXPECT_STREQ(name, "");
}

TEST_F(InterfaceTest, NameGettersWithoutRoomWriteNothing)
{
    char name[4] = {'x', 'y', 'z', 'w'};
    EXPECT_EQ(driver->GetDisplayName(nullptr, 10), 0);
    EXPECT_EQ(driver->GetDriverName(nullptr, 10), 0);
    EXPECT_EQ(driver->GetDisplayName(name, 0), 0);
    EXPECT_EQ(driver->GetDriverName(name, -5), 0);
    EXPECT_EQ(driver->GetDisplayKeyMapName(name, 0), 0);
    EXPECT_EQ(driver->GetDisplayKeyMapName(nullptr, 20), 0);
    EXPECT_EQ(memcmp(name, "xyzw", 4), 0);
    name[0] = 'x';
    EXPECT_EQ(driver->GetDriverName(name, 1), 0);
    EXPECT_EQ(name[0], 0);
}

TEST_F(InterfaceTest, KeyMapNameIsGivenWholeOrNotAtAll)
{
    char name[32];
    memset(name, 'x', sizeof name);
    EXPECT_EQ(driver->GetDisplayKeyMapName(name, 13), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(driver->GetDisplayKeyMapName(name, 14), 13);
    EXPECT_STREQ(name, "Cellivanta VK");
    EXPECT_EQ(driver->GetDisplayKeyMapName(name, sizeof name), 13);
    EXPECT_STREQ(name, "Cellivanta VK");
}

TEST_F(InterfaceTest, ManufacturerInfo)
{
    char name[16];
    GUID first{}, second{};
    EXPECT_TRUE(driver->GetManufacturerInfo(name, sizeof name, &first));
    EXPECT_STREQ(name, "Kelvadore");
    EXPECT_TRUE(driver->GetManufacturerInfo(name, 10, &second));
    EXPECT_STREQ(name, "Kelvadore");
    EXPECT_EQ(memcmp(&first, &second, sizeof first), 0) << "the GUID is fixed";
    EXPECT_NE(memcmp(&first, &kNullGuid, sizeof first), 0);

    // Too small for the whole name: empty name, still TRUE with the GUID.
    GUID third{};
    EXPECT_TRUE(driver->GetManufacturerInfo(name, 9, &third));
    EXPECT_STREQ(name, "");
    EXPECT_EQ(memcmp(&first, &third, sizeof first), 0);

    // Null pointers or no room: FALSE and nothing written.
    memset(name, 'x', sizeof name);
    GUID untouched{};
    EXPECT_FALSE(driver->GetManufacturerInfo(name, sizeof name, nullptr));
    EXPECT_EQ(name[0], 'x');
    EXPECT_FALSE(driver->GetManufacturerInfo(nullptr, 16, &untouched));
    EXPECT_FALSE(driver->GetManufacturerInfo(name, 0, &untouched));
    EXPECT_EQ(name[0], 'x');
    EXPECT_EQ(memcmp(&untouched, &kNullGuid, sizeof untouched), 0);
}

TEST_F(InterfaceTest, SetCallbacksReturnsThePreviousPointer)
{
    RecordingCallbacks a, b;
    IBrailleDriverCallbacks* before = driver->SetCallbacks(&a);
    EXPECT_EQ(before, nullptr);
    EXPECT_EQ(driver->SetCallbacks(&b), &a);
    EXPECT_EQ(driver->SetCallbacks(nullptr), &b);
}

TEST_F(InterfaceTest, CloseWithoutOpenDoesNothing)
{
    driver->Close();
    driver->Close();
    EXPECT_EQ(driver->GetTotalCellCount(), 0);
}

}  // namespace

// The screen reader knows the slots only by number: called through raw
// indexes of the table, each answers as the one at its place must, so a
// reordered header fails here even where both sides agree with each other.
TEST(InterfaceSlotTest, SlotsAnswerByTheirNumber)
{
    IBrailleDriver* driver = testenv::LoadDriver();
    ASSERT_NE(driver, nullptr);
    void** slots = *reinterpret_cast<void***>(driver);
    auto slot = [&](int n) { return slots[n]; };
    using IntFn = int (*)(IBrailleDriver*);
    using SetCallbacksFn = IBrailleDriverCallbacks* (*)(IBrailleDriver*, IBrailleDriverCallbacks*);
    using TypeKeyFn = int (*)(IBrailleDriver*, BYTE);

    EXPECT_EQ(reinterpret_cast<IntFn>(slot(6))(driver), 0x300);
    EXPECT_EQ(reinterpret_cast<IntFn>(slot(7))(driver), 1070);
    EXPECT_EQ(reinterpret_cast<IntFn>(slot(21))(driver), 0) << "GetTotalCellCount before Open";

    RecordingCallbacks callbacks;
    callbacks.typedResult = 5;
    IBrailleDriverCallbacks* previous = reinterpret_cast<SetCallbacksFn>(slot(2))(driver, &callbacks);
    EXPECT_EQ(reinterpret_cast<TypeKeyFn>(slot(37))(driver, 'x'), 5) << "slot 37 is EncodedTypeKey";
    ASSERT_EQ(callbacks.Deliveries().size(), 1u);
    EXPECT_EQ(callbacks.Deliveries()[0].name, "x");
    driver->SetCallbacks(previous);
}
