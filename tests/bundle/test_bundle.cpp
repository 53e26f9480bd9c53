// The test bundle's runner: what it reads of a program's output, the
// registry it puts back after a program that changed it, and whole runs of
// a bundle of stand-in programs (fake_program.cpp).
#include "BundleRunner.h"
#include "GtestOutput.h"
#include "RegistrySnapshot.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <map>

namespace {

struct OutputCase {
    const char* name;
    const char* output;
    int passed, failed, skipped;
    std::vector<std::string> skippedCases;
};

const OutputCase kOutputs[] = {
    {"AllPassed", "[ RUN      ] A.B\n[       OK ] A.B (1 ms)\n[==========] 3 tests ran.\n[  PASSED  ] 3 tests.\n", 3, 0, 0, {}},
    {"SkippedWithItsReason",
     "[ RUN      ] P.Pull\nt.cpp:58: Skipped\nneeds a pull\n[  SKIPPED ] P.Pull (1 ms)\n[ RUN      ] P.Carry\n"
     "[       OK ] P.Carry (2 ms)\n[  PASSED  ] 1 test.\n[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] P.Pull\n",
     1, 0, 1, {"P.Pull: needs a pull"}},
    {"SkippedWithoutAReason", "[ RUN      ] P.Q\nt.cpp:9: Skipped\n\n[  SKIPPED ] P.Q (0 ms)\n[  SKIPPED ] 1 test, listed below:\n",
     0, 0, 1, {"P.Q: (no reason given)"}},
    {"AReasonIsItsCasesAlone",
     "[ RUN      ] P.A\nt.cpp:1: Skipped\nfirst\n[  SKIPPED ] P.A (0 ms)\n[ RUN      ] P.B\n[       OK ] P.B (0 ms)\n"
     "[ RUN      ] P.C\nt.cpp:2: Skipped\nsecond\n[  SKIPPED ] P.C (0 ms)\n",
     0, 0, 0, {"P.A: first", "P.C: second"}},
    {"FailedCountedOnce",
     "[ RUN      ] F.A\nt.cpp:3: Failure\n[  FAILED  ] F.A (5 ms)\n[  PASSED  ] 4 tests.\n[  FAILED  ] 2 tests, listed below:\n"
     "[  FAILED  ] F.A\n[  FAILED  ] F.B\n",
     4, 2, 0, {}},
    {"WindowsLineEnds", "[ RUN      ] W.X\r\nt.cpp:1: Skipped\r\nno pairs\r\n[  SKIPPED ] W.X (0 ms)\r\n[  PASSED  ] 2 tests.\r\n",
     2, 0, 0, {"W.X: no pairs"}},
    {"NoSummary", "crashed before any test\n", 0, 0, 0, {}},
};

class ReadOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(ReadOutput, CountsAndSkippedCases)
{
    const OutputCase& c = GetParam();
    const GtestOutput read = GtestOutput::Read(c.output);
    EXPECT_EQ(read.passed, c.passed);
    EXPECT_EQ(read.failed, c.failed);
    EXPECT_EQ(read.skipped, c.skipped);
    EXPECT_EQ(read.skippedCases, c.skippedCases);
}

INSTANTIATE_TEST_SUITE_P(Gtest, ReadOutput, ::testing::ValuesIn(kOutputs),
                         [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

// A key of the current user's, so that no administrator is needed.
const char kKey[] = "Software\\CellivantaVK-test\\snapshot";

// Every key and value below kKey, "sub\\key|name=data".
void Dump(HKEY hKey, const std::string& at, std::map<std::string, std::string>& out)
{
    char name[256];
    BYTE data[256];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof name, dataLength = sizeof data;
        if (RegEnumValueA(hKey, i, name, &nameLength, nullptr, nullptr, data, &dataLength) != ERROR_SUCCESS)
            break;
        out[at + "|" + name] = std::string(reinterpret_cast<char*>(data), dataLength);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(hKey, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY hSub = nullptr;
        ASSERT_EQ(RegOpenKeyExA(hKey, name, 0, KEY_READ, &hSub), ERROR_SUCCESS);
        out[at + "\\" + name] = "(key)";
        Dump(hSub, at + "\\" + name, out);
        RegCloseKey(hSub);
    }
}

class Snapshot : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }

    static void Set(const std::string& sub, const char* name, const std::string& text)
    {
        const std::string path = sub.empty() ? kKey : std::string(kKey) + "\\" + sub;
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, path.c_str(), name, REG_SZ, text.c_str(),
                                  static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }
    static std::map<std::string, std::string> Tree()
    {
        std::map<std::string, std::string> tree;
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            tree["."] = "(key)";
            Dump(hKey, "", tree);
            RegCloseKey(hKey);
        }
        return tree;
    }
    static RegistrySnapshot Take(const std::string& value = "")
    {
        return RegistrySnapshot(HKEY_CURRENT_USER, kKey, KEY_WOW64_64KEY, value);
    }
};

TEST_F(Snapshot, AKeyComesBackAsItWasWithEverythingUnderIt)
{
    Set("", "Target", "C:\\jaws");
    Set("1.0", "Target", "C:\\drivers");
    Set("1.0\\deep", "", "default value");
    const auto before = Tree();
    const RegistrySnapshot snapshot = Take();
    Set("", "Target", "changed");
    Set("", "Added", "new");
    Set("added", "x", "y");
    RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kKey) + "\\1.0").c_str());
    EXPECT_TRUE(snapshot.Restore());
    EXPECT_EQ(Tree(), before);
}

TEST_F(Snapshot, AKeyThatWasNotThereIsRemoved)
{
    const RegistrySnapshot snapshot = Take();
    Set("made\\by\\a\\test", "v", "1");
    EXPECT_TRUE(snapshot.Restore());
    EXPECT_TRUE(Tree().empty());
}

TEST_F(Snapshot, AValueAloneComesBackAndItsNeighboursStay)
{
    Set("", "Pending", "old list");
    Set("", "Other", "kept");
    const RegistrySnapshot pending = Take("Pending"), absent = Take("Absent");
    Set("", "Pending", "cleared");
    Set("", "Absent", "made");
    Set("", "Other", "changed by someone else");
    EXPECT_TRUE(pending.Restore());
    EXPECT_TRUE(absent.Restore());
    const auto tree = Tree();
    EXPECT_EQ(tree.at("|Pending"), std::string("old list", 9));
    EXPECT_EQ(tree.count("|Absent"), 0u);
    EXPECT_EQ(tree.at("|Other"), std::string("changed by someone else", 24));
}

// A bundle of its own: each line of tests.txt names a copy of the stand-in.
class BundleRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = testenv::FreshDir("bundle-run");
        CreateDirectoryA((folder + "\\i686").c_str(), nullptr);
    }
    void TearDown() override { testenv::RemoveTree(folder); }

    // PROGRAM, TIMEOUT, NEEDS: a stand-in named PROGRAM (or a line of the Linux run).
    void List(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\r\n";
            const std::string program = line.substr(0, line.find('\t'));
            if (program.rfind("i686\\", 0) == 0) {
                ASSERT_TRUE(CopyFileA((testenv::BinDir() + "\\bundle_fake_program.exe").c_str(),
                                      (folder + "\\" + program).c_str(), FALSE));
            }
        }
        testenv::WriteBytes(folder + "\\tests.txt", text);
    }
    int Run(const std::string& pairs = "", const std::vector<std::string>& only = {})
    {
        const int exitCode = BundleRunner(folder, pairs, only).Run();
        report = testenv::ReadBytes(folder + "\\test-report.txt");
        return exitCode;
    }
    bool Says(const std::string& text) const { return report.find(text) != std::string::npos; }

    std::string folder, report;
};

TEST_F(BundleRun, EveryProgramIsCountedAndAFailureOrHangFailsTheRun)
{
    List({"i686\\pass.exe\t30\t-", "i686\\fail.exe\t30\t-", "i686\\hang.exe\t1\t-", "i686\\crash.exe\t30\t-",
          "i686\\skip.exe\t30\t-", "i686\\pass2.exe\t30\tpairs", "other_test\t0\tlinux\tneeds Linux"});
    EXPECT_EQ(Run(), 1);
    EXPECT_TRUE(Says("PASS i686\\pass.exe (2 passed, 0 failed, 0 skipped")) << report;
    EXPECT_TRUE(Says("FAIL i686\\fail.exe (1 passed, 1 failed, 0 skipped")) << report;
    EXPECT_TRUE(Says("FAIL i686\\hang.exe (0 passed, 1 failed, 0 skipped")) << report;
    EXPECT_TRUE(Says("did not end within 1 s")) << report;
    EXPECT_TRUE(Says("FAIL i686\\crash.exe (0 passed, 1 failed")) << report;
    EXPECT_TRUE(Says("SKIP i686\\skip.exe (0 passed, 0 failed, 1 skipped")) << report;
    EXPECT_TRUE(Says("skipped S.Case: no pairs here")) << report;
    EXPECT_TRUE(Says("SKIP i686\\pass2.exe (needs 4 COM port pairs of a null-modem driver")) << report;
    EXPECT_TRUE(Says("SKIP other_test (a test of the Linux run alone: it needs Linux)")) << report;
    EXPECT_TRUE(Says("test cases: 3 passed, 3 failed, 1 skipped\r\ntest programs: 1 passed, 3 failed, 3 skipped")) << report;
}

TEST_F(BundleRun, PairsGoToTheProgramsThatNeedThem)
{
    List({"i686\\args.exe\t30\tpairs", "i686\\args2.exe\t30\t-"});
    EXPECT_EQ(Run("COM5:COM6,COM7:COM8,COM9:COM10,COM11:COM12"), 0);
    EXPECT_TRUE(Says("args.exe\" --pairs COM5:COM6,COM7:COM8,COM9:COM10,COM11:COM12")) << report;
    EXPECT_TRUE(Says("args2.exe\"\r\n")) << report;
    EXPECT_TRUE(Says("test programs: 2 passed, 0 failed, 0 skipped")) << report;

    EXPECT_EQ(Run("COM5:COM6"), 0);
    EXPECT_TRUE(Says("SKIP i686\\args.exe (needs 4 COM port pairs, 1 named)")) << report;
}

TEST_F(BundleRun, OnlyTheProgramsNamedRun)
{
    List({"i686\\fail.exe\t30\t-", "i686\\pass.exe\t30\t-"});
    EXPECT_EQ(Run("", {"pass"}), 0);
    EXPECT_FALSE(Says("fail.exe")) << report;
    EXPECT_TRUE(Says("test programs: 1 passed, 0 failed, 0 skipped")) << report;
}

}  // namespace
