// How the payloads are written: the folder joining rule, the working folder
// (new each time, never the shared fallback), and every stored payload
// written byte for byte into a new file that is then held against writing.
#include "CWorkFolder.h"
#include "FakePlatform.h"
#include "PayloadFiles.h"
#include "TestEnv.h"
#include "resource.h"

#include <gtest/gtest.h>

using namespace testenv;

namespace {

const std::string kInfPath = "\\tools\\installer\\payloads\\win7-64.inf";

TEST(JoinFolder, PutsExactlyOneBackslashBetweenFolderAndName)
{
    EXPECT_EQ(JoinFolder(L"C:\\Temp", L"CellivantaInstall"), L"C:\\Temp\\CellivantaInstall");
    EXPECT_EQ(JoinFolder(L"C:\\Temp\\", L"CellivantaInstall"), L"C:\\Temp\\CellivantaInstall");
    EXPECT_EQ(JoinFolder(L"Temp", L"x"), L"Temp\\x");
    EXPECT_EQ(JoinFolder(L"", L"x"), L"\\x");
}

TEST(JoinFolder, CountsOnlyTheBackslashAndNeverRemoves)
{
    EXPECT_EQ(JoinFolder(L"C:/Temp/", L"x"), L"C:/Temp/\\x");
    EXPECT_EQ(JoinFolder(L"C:\\Temp\\\\", L"x"), L"C:\\Temp\\\\x");
    EXPECT_EQ(JoinFolder(L"C:\\a\\b c", L"x"), L"C:\\a\\b c\\x");
}

// Two working folders in the same temporary folder are two new folders; a
// temporary folder that cannot be had is a failure, not a shared folder.
TEST(WorkFolder, IsNewEachTimeAndNeverAFallback)
{
    FakePlatform platform;
    const std::string temp = FreshDir("work-temp");
    platform.SetTempPath(temp);
    CWorkFolder first, second;
    ASSERT_EQ(first.Create(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(second.Create(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_NE(first.Path(), second.Path());
    EXPECT_EQ(FakePlatform::Utf8(first.Path()).rfind(temp + "\\CellivantaInstall-", 0), 0u);
    EXPECT_TRUE(FolderExists(FakePlatform::Utf8(second.Path())));

    for (DWORD result : {0u, 300u}) {
        platform.FailTempPath(result);
        CWorkFolder none;
        EXPECT_NE(none.Create(), static_cast<DWORD>(ERROR_SUCCESS)) << result;
        EXPECT_FALSE(none.IsCreated());
    }
    first.Release();
    second.Release();
    RemoveTree(temp);
}

struct Payload {
    WORD id;
    const char* name;
    std::string (*expectedFile)();
};

class ExtractPayload : public ::testing::TestWithParam<Payload> {};

TEST_P(ExtractPayload, WritesTheStoredBytesIntoANewFileAndHoldsIt)
{
    const Payload& payload = GetParam();
    const std::string folder = FreshDir("extract");
    const std::string path = folder + "\\" + payload.name;
    const std::string expected = ReadBytes(payload.expectedFile());
    ASSERT_FALSE(expected.empty()) << payload.expectedFile();

    HANDLE lock = INVALID_HANDLE_VALUE;
    HeldFileStep failedAt;
    ASSERT_EQ(ExtractResourceToFile(payload.id, FakePlatform::Wide(path), lock, failedAt), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(ReadBytes(path) == expected) << payload.name << " differs";
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE)
        << "held against writing";
    EXPECT_FALSE(DeleteFileA(path.c_str())) << "held against deleting";
    CloseHandle(lock);

    // A file already there is never written into, nor used.
    WriteBytes(path, "older");
    EXPECT_EQ(ExtractResourceToFile(payload.id, FakePlatform::Wide(path), lock, failedAt), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadBytes(path), "older");
    RemoveTree(folder);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPayload, ExtractPayload,
    ::testing::Values(Payload{IDR_INF_X86, "win7-64.inf", [] { return SourceDir() + kInfPath; }},
                      Payload{IDR_INF_X64, "win7-64.inf", [] { return SourceDir() + kInfPath; }},
                      Payload{IDR_DPINST_X86, "DPInst.exe", [] { return BinDir() + "\\DPInst.exe"; }},
                      Payload{IDR_DPINST_X64, "DPInst_x64.exe", [] { return Bin64Dir() + "\\DPInst_x64.exe"; }},
                      Payload{IDR_SETUP_PACKAGE, "Setup.exe", [] { return BinDir() + "\\Setup.exe"; }}),
    [](const ::testing::TestParamInfo<Payload>& info) { return "Id" + std::to_string(info.param.id); });

TEST(ExtractResourceToFile, BothInfCopiesNameTheDisplayForBothPlatforms)
{
    const std::string folder = FreshDir("inf");
    HANDLE lock137 = INVALID_HANDLE_VALUE, lock139 = INVALID_HANDLE_VALUE;
    HeldFileStep failedAt;
    ASSERT_EQ(ExtractResourceToFile(IDR_INF_X86, FakePlatform::Wide(folder + "\\a.inf"), lock137, failedAt), 0u);
    ASSERT_EQ(ExtractResourceToFile(IDR_INF_X64, FakePlatform::Wide(folder + "\\b.inf"), lock139, failedAt), 0u);
    const std::string inf137 = ReadBytes(folder + "\\a.inf");
    EXPECT_TRUE(inf137 == ReadBytes(folder + "\\b.inf"));
    CloseHandle(lock137);
    CloseHandle(lock139);
    for (const char* section : {"[DeviceList.NTx86]\r\n", "[DeviceList.NTamd64]\r\n"}) {
        size_t at = inf137.find(section);
        ASSERT_NE(at, std::string::npos) << section;
        std::string next = inf137.substr(at + strlen(section), inf137.find("\r\n", at + strlen(section)) - at - strlen(section));
        EXPECT_EQ(next, "%KelvadoreMBCDC%=DriverInstall,USB\\VID_1C71&PID_C005") << section;
    }
    RemoveTree(folder);
}

// Each failure has its own result, and leaves no file behind.
TEST(ExtractResourceToFile, AFailureIsReportedAndLeavesNothing)
{
    const std::string folder = FreshDir("missing");
    HANDLE lock = INVALID_HANDLE_VALUE;
    HeldFileStep failedAt;
    EXPECT_EQ(ExtractResourceToFile(999, FakePlatform::Wide(folder + "\\nothing.bin"), lock, failedAt),
              static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_FALSE(FileExists(folder + "\\nothing.bin"));
    EXPECT_EQ(ExtractResourceToFile(IDR_INF_X86, FakePlatform::Wide(folder + "\\missing\\win7-64.inf"), lock, failedAt),
              static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(FileExists(folder + "\\missing\\win7-64.inf"));
    EXPECT_EQ(lock, INVALID_HANDLE_VALUE);
    RemoveTree(folder);
}

}  // namespace
