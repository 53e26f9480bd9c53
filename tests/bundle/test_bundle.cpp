// The test bundle's runner: what it reads of a program's output, and the
// registry it puts back after a program that changed it.
#include "GtestOutput.h"
#include "RegistrySnapshot.h"

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

}  // namespace
