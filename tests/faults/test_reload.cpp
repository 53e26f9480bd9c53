// The screen reader loads VK.JLB, lets go of it and loads it again: each of
// its ways, a few cycles in a child process of its own (a crash or a hang
// fails that case, not the others). The child (bench/reload_driver) fails
// when a cycle went wrong, the library stayed loaded after it was let go, or
// handles, threads, memory or thread-local storage slots grew.
#include "FaultSession.h"

namespace faults {
namespace {

const int kCycles = 10;
const DWORD kChildTimeoutMs = 180000;

class ReloadTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ReloadTest, CyclesEndCleanWithNothingLeftBehind)
{
    std::string output;
    const std::string command =
        "\"" + testenv::BinDir() + "\\reload_driver.exe\" " + GetParam() + " " + std::to_string(kCycles) + " " +
                                testenv::PairsOption();
    const int exitCode = testenv::RunProgram(command, output, kChildTimeoutMs);
    printf("%s", output.c_str());
    EXPECT_EQ(exitCode, 0) << (exitCode == -2 ? "the host hung" : "the host failed or crashed") << " (exit code 0x"
                           << std::hex << exitCode << ")";
}

INSTANTIATE_TEST_SUITE_P(Host, ReloadTest,
                         ::testing::Values("load", "missing", "silent", "display", "crossthread", "threadgone",
                                           "abandon", "log"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace faults
