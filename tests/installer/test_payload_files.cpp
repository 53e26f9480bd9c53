// Where the payloads go and how they are written: the folder joining rule, the
// working folder from what the temporary folder query gives, and every stored
// payload written byte for byte.
#include "FakePlatform.h"
#include "TestEnv.h"
#include "PayloadFiles.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace testenv;

namespace {

const std::string kInfPath = "\\tools\\installer\\payloads\\win7-64.inf";

TEST(JoinFolder, PutsExactlyOneBackslashBetweenFolderAndName)
{
    EXPECT_EQ(JoinFolder("C:\\Temp", "CellivantaInstall"), "C:\\Temp\\CellivantaInstall");
    EXPECT_EQ(JoinFolder("C:\\Temp\\", "CellivantaInstall"), "C:\\Temp\\CellivantaInstall");
    EXPECT_EQ(JoinFolder("Temp", "x"), "Temp\\x");
    EXPECT_EQ(JoinFolder("", "x"), "\\x");
}

TEST(JoinFolder, CountsOnlyTheBackslashAndNeverRemoves)
{
    EXPECT_EQ(JoinFolder("C:/Temp/", "x"), "C:/Temp/\\x");
    EXPECT_EQ(JoinFolder("C:\\Temp\\\\", "x"), "C:\\Temp\\\\x");
    EXPECT_EQ(JoinFolder("C:\\a\\b c", "x"), "C:\\a\\b c\\x");
}

TEST(WorkFolder, IsTheTemporaryFolderAndCellivantaInstall)
{
    FakePlatform platform;
    platform.SetTempPath("C:\\users\\blind\\Temp\\");
    EXPECT_EQ(QueryWorkFolder(), "C:\\users\\blind\\Temp\\CellivantaInstall");
    platform.SetTempPath("C:\\users\\blind\\Temp");
    EXPECT_EQ(QueryWorkFolder(), "C:\\users\\blind\\Temp\\CellivantaInstall");
}

TEST(WorkFolder, FallsBackToWindowsTempWhenTheQueryFails)
{
    FakePlatform platform;
    platform.FailTempPath(0);
    EXPECT_EQ(QueryWorkFolder(), "c:\\windows\\temp\\CellivantaInstall");
    // A path too long for the buffer is not written at all: the same fallback,
    // not a folder in the root of the drive.
    platform.FailTempPath(300);
    EXPECT_EQ(QueryWorkFolder(), "c:\\windows\\temp\\CellivantaInstall");
}

struct Payload {
    WORD id;
    const char* name;
    std::string (*expectedFile)();
};

class ExtractPayload : public ::testing::TestWithParam<Payload> {};

TEST_P(ExtractPayload, WritesTheStoredBytesUnchanged)
{
    const Payload& payload = GetParam();
    const std::string folder = FreshDir("extract");
    const std::string expected = ReadBytes(payload.expectedFile());
    ASSERT_FALSE(expected.empty()) << payload.expectedFile();

    EXPECT_EQ(ExtractResourceToFile("BIN", payload.id, payload.name, folder), folder + "\\" + payload.name);
    EXPECT_TRUE(ReadBytes(folder + "\\" + payload.name) == expected) << payload.name << " differs";

    // Over an older, longer file: the file is truncated, not patched.
    WriteBytes(folder + "\\" + payload.name, expected + std::string(5000, 'x'));
    ExtractResourceToFile("BIN", payload.id, payload.name, folder + "\\");
    EXPECT_TRUE(ReadBytes(folder + "\\" + payload.name) == expected) << payload.name << " not truncated";
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

TEST(ExtractResourceToFile, BothInfCopiesAreTheSame865ByteText)
{
    const std::string folder = FreshDir("inf");
    const std::string inf137 = ReadBytes(ExtractResourceToFile("BIN", IDR_INF_X86, "a.inf", folder));
    const std::string inf139 = ReadBytes(ExtractResourceToFile("BIN", IDR_INF_X64, "b.inf", folder));
    EXPECT_EQ(inf137.size(), 865u);
    EXPECT_TRUE(inf137 == inf139);

    // 32 lines, each ended by CR LF, no byte-order mark, plain ASCII.
    size_t lines = 0;
    for (size_t i = 0; i < inf137.size(); ++i) {
        ASSERT_LT(static_cast<unsigned char>(inf137[i]), 0x80u) << "at " << i;
        if (inf137[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(inf137[i - 1], '\r') << "line " << lines + 1;
            ++lines;
        }
    }
    EXPECT_EQ(lines, 32u);
    EXPECT_EQ(inf137.substr(inf137.size() - 2), "\r\n");
    for (const char* section : {"[DeviceList.NTx86]\r\n", "[DeviceList.NTamd64]\r\n"}) {
        size_t at = inf137.find(section);
        ASSERT_NE(at, std::string::npos) << section;
        std::string next = inf137.substr(at + strlen(section), inf137.find("\r\n", at + strlen(section)) - at - strlen(section));
        EXPECT_EQ(next, "%KelvadoreMBCDC%=DriverInstall,USB\\VID_1C71&PID_C005") << section;
    }
    RemoveTree(folder);
}

TEST(ExtractResourceToFile, EmptyFolderMeansTheProgramsFolder)
{
    const std::string path = ExtractResourceToFile("BIN", IDR_INF_X86, "extract-beside.inf", "");
    EXPECT_EQ(path, GetExeFolder() + "\\extract-beside.inf");
    EXPECT_EQ(ReadBytes(path).size(), 865u);
    DeleteFileA(path.c_str());
}

TEST(ExtractResourceToFile, AFileThatCannotBeWrittenIsNotReported)
{
    const std::string folder = FreshDir("busy");
    const std::string path = folder + "\\DPInst.exe";
    WriteBytes(path, "still running");
    HANDLE busy = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ExtractResourceToFile("BIN", IDR_DPINST_X86, "DPInst.exe", folder), path);
    CloseHandle(busy);
    EXPECT_EQ(ReadBytes(path), "still running");
    // Into a folder that does not exist: nothing written, the path all the same.
    EXPECT_EQ(ExtractResourceToFile("BIN", IDR_INF_X86, "win7-64.inf", folder + "\\missing"),
              folder + "\\missing\\win7-64.inf");
    EXPECT_FALSE(FileExists(folder + "\\missing\\win7-64.inf"));
    RemoveTree(folder);
}

TEST(ExtractResourceToFile, AMissingPayloadGivesNoPathAndNoFile)
{
    const std::string folder = FreshDir("missing");
    EXPECT_EQ(ExtractResourceToFile("BIN", 999, "nothing.bin", folder), "");
    EXPECT_FALSE(FileExists(folder + "\\nothing.bin"));
    RemoveTree(folder);
}

}  // namespace
