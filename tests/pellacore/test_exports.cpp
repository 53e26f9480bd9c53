// What the setup package relies on before any call does real work: the
// library loads, exports exactly its plain names with the WINAPI
// convention, answers the 64-bit question, carries its version block, and
// closes the PC emulator's window.
#include "PellacoreLibrary.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(PellacoreExports, ExactlyThePlainNames)
{
    unsigned functionCount = 0;
    std::vector<std::string> names = ExportedNames(Pellacore().hModule, &functionCount);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"CancelSetupRenames", "EnumComPorts", "EnumComPortsEx",
                                               "GetThirdPartyFolderFromRegistry",
                                               "GetThirdPartyFolderFromRegistryW", "HasRoomFor", "Is64BitsOS",
                                               "KillPcEmulator", "OpenSetupLog", "RunsAsSystem",
                                               "SecureSetupFolder", "Sha256OfFile", "WriteSetupLog"}));
    EXPECT_EQ(functionCount, 13u) << "no exports by ordinal only";
}

TEST(PellacoreExports, EveryExportTakesItsOwnArgumentsOffTheStack)
{
    // Arguments that make each call return at once, without touching anything.
    const char szKey[] = "none";
    const PellacoreLibrary& lib = Pellacore();
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.Is64BitsOS), {}), 0);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.KillPcEmulator), {}), 0);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.GetThirdPartyFolderFromRegistry), {0, 0}), 8);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.GetThirdPartyFolderFromRegistryW), {0, 0}), 8);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.EnumComPorts), {0, 0, 0, 0}), 16);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.SecureSetupFolder), {0, 0, 0}), 12);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.Sha256OfFile), {0, 0, 0}), 12);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.CancelSetupRenames), {0, 0}), 8);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.OpenSetupLog), {0, 0, 0, 0, 0, 0}), 24);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.WriteSetupLog), {0, 0}), 8);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.RunsAsSystem), {}), 0);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.HasRoomFor), {0, 0, 0}), 12);
    EXPECT_EQ(CalleePoppedBytes(reinterpret_cast<const void*>(lib.EnumComPortsEx),
                                {reinterpret_cast<std::uintptr_t>(szKey), 0, 0, 0, 0}),
              20);
}

TEST(PellacoreExports, ThirtyTwoBitProgramOnSixtyFourBitWindows)
{
    EXPECT_EQ(Pellacore().Is64BitsOS(), 1);
}

TEST(PellacoreExports, VersionBlockInUsEnglish)
{
    char szPath[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(Pellacore().hModule, szPath, MAX_PATH), 0u);
    std::vector<BYTE> block = testenv::VersionBlock(szPath);
    ASSERT_FALSE(block.empty());

    VS_FIXEDFILEINFO* pFixed = testenv::FixedVersion(block);
    ASSERT_NE(pFixed, nullptr);
    EXPECT_EQ(pFixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(pFixed->dwFileVersionLS, 0x00000002u);
    EXPECT_EQ(pFixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(pFixed->dwProductVersionLS, 0x00000002u);

    WORD* pTranslation = nullptr;
    UINT cbTranslation = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&pTranslation), &cbTranslation));
    ASSERT_GE(cbTranslation, 4u);
    EXPECT_EQ(pTranslation[0], 0x0409);

    EXPECT_EQ(testenv::VersionString(block, "040904b0", "CompanyName"), "Kelvadore");
    EXPECT_EQ(testenv::VersionString(block, "040904b0", "FileDescription"), "Setup Extension Library");
    EXPECT_EQ(testenv::VersionString(block, "040904b0", "InternalName"), "Pellacore");
    EXPECT_EQ(testenv::VersionString(block, "040904b0", "OriginalFilename"), "Pellacore.DLL");
    EXPECT_EQ(testenv::VersionString(block, "040904b0", "ProductName"), "Pellacore Dynamic Link Library");
    EXPECT_EQ(testenv::VersionString(block, "040904b0", "FileVersion"), "1, 0, 0, 2");
    EXPECT_EQ(testenv::VersionString(block, "040904b0", "ProductVersion"), "1, 0, 0, 2");
}

TEST(PellacoreExports, KillPcEmulatorWithoutItsWindow)
{
    EXPECT_EQ(Pellacore().KillPcEmulator(), 0);
    // Class and title must both match.
    testenv::PcEmulatorWindow other(false, "PDIHooks", "Something else");
    EXPECT_EQ(Pellacore().KillPcEmulator(), 0);
    other.Pump();
    EXPECT_FALSE(other.Closed(200));
}

TEST(PellacoreExports, KillPcEmulatorPostsCloseWithoutWaiting)
{
    testenv::PcEmulatorWindow emulator(false);
    // The window's thread is not pumping yet: a sent message would hang here.
    EXPECT_EQ(Pellacore().KillPcEmulator(), 1);
    EXPECT_FALSE(emulator.Closed(0));
    emulator.Pump();
    EXPECT_TRUE(emulator.Closed(5000));
}

}  // namespace
