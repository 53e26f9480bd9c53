// What the setup asks of the library about its folder and files:
// SecureSetupFolder (the folder an elevated setup installs into is never
// reached through a link, is made for administrators only, and one that
// another account owns or may change is narrowed before the setup writes),
// the key map's SHA-256, and cancelling the renames an install left.
#include "FolderSecurity.h"
#include "PellacoreLibrary.h"
#include "SetupFolder.h"
#include "SetupLog.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <sddl.h>

namespace {

// Who may change a folder, by its owner and entries. Wine keeps no owner or
// access list of its own (its one account owns everything), so what another
// account may do is played here on descriptors.
TEST(SetupFolder, OnlySystemAdministratorsAndTrustedInstallerMayOwnOrChangeIt)
{
    const struct {
        const char* sddl;
        FolderOthers others;
    } rows[] = {
        {"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", FolderOthers::None},
        {"O:SYD:(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", FolderOthers::None},
        {"O:BAD:(A;OICIIO;FA;;;CO)", FolderOthers::None},  // passes only to what administrators make
        {"O:BAD:", FolderOthers::None},
        {"O:BA", FolderOthers::Entries},                       // no access list: everyone
        {"O:BAD:(A;;FA;;;S-1-5-21-1-2-3-1001)", FolderOthers::Entries},  // one user's own account
        {"O:BAD:(A;CI;0x4;;;BU)", FolderOthers::Entries},      // users may add folders
        {"O:BAD:(A;OICIIO;GA;;;WD)", FolderOthers::Entries},   // everyone, on what is made inside
        {"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)", FolderOthers::Owner},
    };
    for (const auto& row : rows) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(row.sddl, SDDL_REVISION_1, &descriptor,
                                                                         nullptr))
            << row.sddl;
        EXPECT_EQ(OthersIn(descriptor), row.others) << row.sddl;
        LocalFree(descriptor);
    }
}

// A link (a Unix symbolic link, shown by Wine as a reparse point) on the
// folder or above it is refused, and nothing is made behind it; a missing
// folder is made; one everyone may change is narrowed. Each is held.
TEST(SetupFolder, RefusesLinksMakesAndNarrows)
{
    VK_SKIP_IF(testenv::WhyNoLinks());
    HANDLE held = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    for (const wchar_t* linked : {L"C:\\vktest-link", L"C:\\vktest-link\\drivers"}) {
        EXPECT_EQ(Pellacore().SecureSetupFolder(linked, &held, &error), kSetupFolderLinked);
        EXPECT_EQ(held, INVALID_HANDLE_VALUE);
    }
    EXPECT_FALSE(testenv::FolderExists("C:\\vktest-link-target\\drivers"));

    const std::string folder = testenv::FreshDir("setup-folder");
    const std::wstring made = std::wstring(folder.begin(), folder.end()) + L"\\made";
    ASSERT_EQ(Pellacore().SecureSetupFolder(made.c_str(), &held, &error), kSetupFolderMade) << error;
    FolderOthers others = FolderOthers::Entries;
    EXPECT_EQ(CheckFolderOthers(held, others), ERROR_SUCCESS);
    EXPECT_EQ(others, FolderOthers::None);
    CloseHandle(held);

    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)",
                                                                     SDDL_REVISION_1, &open, nullptr));
    ASSERT_TRUE(SetFileSecurityW(made.c_str(), DACL_SECURITY_INFORMATION, open));
    LocalFree(open);
    EXPECT_EQ(Pellacore().SecureSetupFolder(made.c_str(), &held, &error), kSetupFolderNarrowed) << error;
    CloseHandle(held);
    EXPECT_EQ(Pellacore().SecureSetupFolder(made.c_str(), &held, &error), kSetupFolderReady) << error;
    CloseHandle(held);
    testenv::RemoveTree(folder);
}

// The room is that of the disk the folder will be made on; a drive that is
// not there cannot tell.
TEST(SetupFolder, HasRoomOnTheDiskOfTheNearestFolderThere)
{
    const std::string folder = testenv::FreshDir("setup-room");
    const std::wstring missing = std::wstring(folder.begin(), folder.end()) + L"\\not\\yet";
    DWORD free = 0;
    EXPECT_EQ(Pellacore().HasRoomFor(missing.c_str(), 1, &free), 1);
    EXPECT_EQ(Pellacore().HasRoomFor(missing.c_str(), 0xFFFFFFFF, &free), 0) << "4 TB";
    EXPECT_LT(free, 0xFFFFFFFFu);
    EXPECT_EQ(Pellacore().HasRoomFor(L"Q:\\nowhere", 1, &free), -1);
    EXPECT_EQ(Pellacore().RunsAsSystem(), 0);
    testenv::RemoveTree(folder);
}

TEST(SetupFiles, HashesAKeyMapAndCancelsOnlyTheSetupsRenames)
{
    const std::string folder = testenv::FreshDir("setup-files");
    const std::wstring wide(folder.begin(), folder.end());
    testenv::WriteBytes(folder + "\\kvbrl.ini", "abc");
    wchar_t hex[65] = L"";
    EXPECT_EQ(Pellacore().Sha256OfFile((wide + L"\\kvbrl.ini").c_str(), 65, hex), 1);
    EXPECT_EQ(std::wstring(hex), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Pellacore().Sha256OfFile((wide + L"\\missing.ini").c_str(), 65, hex), 0);

    for (const char* name : {"VK.JLB.part", "other.part"}) {
        testenv::WriteBytes(folder + "\\" + name, "new");
        ASSERT_TRUE(MoveFileExA((folder + "\\" + name).c_str(), (folder + "\\" + name + ".done").c_str(),
                                MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    }
    EXPECT_EQ(Pellacore().CancelSetupRenames(wide.c_str(), L"VK.JLB.part|vkkeys.exe.part|"), 1);
    EXPECT_EQ(Pellacore().CancelSetupRenames(wide.c_str(), L"VK.JLB.part|vkkeys.exe.part|"), 0);
    EXPECT_EQ(Pellacore().CancelSetupRenames(wide.c_str(), L"other.part|"), 1) << "another maker's rename stays";
    testenv::RemoveTree(folder);
}

// The setup's log is a new file on a path without links, written as UTF-8;
// never one already there; in a new folder of its own when none is named.
TEST(SetupLog, MakesOnlyANewFileOnAPathWithoutLinks)
{
    VK_SKIP_IF(testenv::WhyNoLinks());
    const std::string folder = testenv::FreshDir("setup-log");
    const std::wstring wide(folder.begin(), folder.end());
    wchar_t path[MAX_PATH] = L"";
    HANDLE log = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    auto open = [&](const std::wstring& named, const std::wstring& in) {
        return Pellacore().OpenSetupLog(named.c_str(), in.c_str(), MAX_PATH, path, &log, &error);
    };
    ASSERT_EQ(open(wide + L"\\setup.log", L""), kSetupLogOpen) << error;
    EXPECT_EQ(Pellacore().WriteSetupLog(log, L"Dossier \u00e9"), 1);
    CloseHandle(log);
    EXPECT_EQ(testenv::ReadBytes(folder + "\\setup.log"), "\xEF\xBB\xBF" "Dossier \xC3\xA9\r\n");
    EXPECT_EQ(open(wide + L"\\setup.log", L""), kSetupLogExists);
    for (const wchar_t* linked : {L"C:\\vktest-link\\new.log", L"C:\\vktest-log-link"})
        EXPECT_EQ(open(linked, L""), kSetupLogLinked) << path;
    EXPECT_EQ(open(L"", L"C:\\vktest-link"), kSetupLogLinked);
    ASSERT_EQ(open(L"", wide), kSetupLogOpen) << error;
    CloseHandle(log);
    EXPECT_TRUE(testenv::FileExists(std::string(path, path + wcslen(path)))) << "in its own folder";
    EXPECT_EQ(std::wstring(path).find(wide + L"\\Cellivanta VK setup "), 0u) << path;
}

}  // namespace
