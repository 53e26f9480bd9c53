// The user's log through the loaded driver: what a session writes, that a
// word typed and shown leaves no trace, the cap and the kept old file, a
// folder that cannot be written, and nothing written with the log off.
#include "FaultSession.h"
#include "LogSettings.h"
#include "Trace.h"
#include "TraceLog.h"

#include <algorithm>
#include <regex>
#include <sstream>

namespace faults {
namespace {

// The first row of braille, as the recording callbacks read it: a to j.
std::vector<BYTE> DotsOf(char letter)
{
    static const std::vector<BYTE> dots[] = {{D1},         {D1, D2},         {D1, D4},     {D1, D4, D5},
                                             {D1, D5},     {D1, D2, D4},     {D1, D2, D4, D5},
                                             {D1, D2, D5}, {D2, D4},         {D2, D4, D5}};
    return dots[letter - 'a'];
}

BYTE CellOf(char letter)
{
    BYTE cell = 0;
    for (BYTE key : DotsOf(letter))
        cell |= static_cast<BYTE>(1 << (key - D1));
    return cell;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class LogTest : public FaultSession {
protected:
    void SetUp() override
    {
        FaultSession::SetUp();
        m_appData = testenv::FreshDir("log-appdata");
        SetEnvironmentVariableA("LOCALAPPDATA", m_appData.c_str());
        LogSettings::Set(true);
    }
    void TearDown() override
    {
        StopLog();
        FaultSession::TearDown();
        RegDeleteKeyValueA(HKEY_CURRENT_USER, LogSettings::kKeyPath, LogSettings::kValueName);
        RegDeleteKeyA(HKEY_CURRENT_USER, LogSettings::kKeyPath);
        testenv::RemoveTree(m_appData);
    }
    // The driver reads the switch at Open: off, an Open ends the log and
    // closes its file.
    void StopLog()
    {
        LogSettings::Set(false);
        if (Open())
            driver->Close();
    }
    // One session: the word shown, then typed on the dot keys; the log's
    // text once the log is off again.
    std::string SessionLog(const std::string& word)
    {
        EXPECT_TRUE(Open());
        std::string cells;
        for (char letter : word)
            cells += static_cast<char>(CellOf(letter));
        EXPECT_TRUE(driver->ShowText(cells.data(), static_cast<int>(cells.size())));
        EXPECT_TRUE(display->WaitForFrames(2, 2000));
        callbacks.Clear();
        for (char letter : word) {
            for (BYTE key : DotsOf(letter))
                display->KeyDown(key);
            for (BYTE key : DotsOf(letter))
                display->KeyUp(key);
        }
        std::string typed;
        for (const Delivery& d : Await(word.size()))
            typed += d.name;
        EXPECT_EQ(typed, word);
        driver->Close();
        StopLog();
        return testenv::ReadBytes(LogSettings::FilePath());
    }
    // The lines without their time and thread, in order of their text; the
    // port worker's own lines come as its timing has it, and are left out.
    static std::vector<std::string> Events(const std::string& log)
    {
        static const std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} tid \\d+: ");
        std::vector<std::string> events;
        for (const std::string& line : Lines(log)) {
            EXPECT_TRUE(std::regex_search(line, stamp)) << line;
            if (line.find("CSerialCommHelper::ThreadFn") == std::string::npos)
                events.push_back(std::regex_replace(line, stamp, ""));
        }
        std::sort(events.begin(), events.end());
        return events;
    }

    std::string m_appData;
};

TEST_F(LogTest, ASessionIsLoggedWithItsEventsButNoWordTypedOrShown)
{
    const std::string log = SessionLog("cabbage");
    EXPECT_EQ(log.find("cabbage"), std::string::npos);
    EXPECT_NE(log.find("CBrailleDisplayDriver::Open -> " + testenv::DriverPort(1)), std::string::npos) << log;
    int typedEvents = 0;
    for (const std::string& event : Events(log))
        typedEvents += event.find("a character typed") != std::string::npos;
    EXPECT_EQ(typedEvents, 7) << log;
    // Only the session with the log on was written, not the Open after it.
    const std::vector<std::string> lines = Lines(log);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.find("::Open -> ") != std::string::npos; }),
              1)
        << log;

    // Another word of the same length: the same events, whatever was read and typed.
    DeleteFileA(LogSettings::FilePath().c_str());
    LogSettings::Set(true);
    const std::string other = SessionLog("jihhijf");
    std::vector<std::string> differ;
    const auto first = Events(log), second = Events(other);
    std::set_symmetric_difference(first.begin(), first.end(), second.begin(), second.end(),
                                  std::back_inserter(differ));
    for (const std::string& line : differ)
        ADD_FAILURE() << "in one session's log only: " << line;
}

TEST_F(LogTest, AFullLogBecomesTheOldOneAndTheNewStaysUnderTheCap)
{
    CreateDirectoryA(LogSettings::Folder().c_str(), nullptr);
    const std::string filler(99, 'x');
    std::string full;
    while (full.size() + 101 <= LogSettings::kMaxFileBytes - 50)
        full += filler + "\r\n";
    testenv::WriteBytes(LogSettings::FilePath(), full);
    testenv::WriteBytes(LogSettings::OldFilePath(), "older\r\n");

    ASSERT_TRUE(Open());
    driver->Close();
    StopLog();
    EXPECT_EQ(testenv::ReadBytes(LogSettings::OldFilePath()).substr(0, full.size()), full);
    EXPECT_LE(testenv::ReadBytes(LogSettings::OldFilePath()).size(), LogSettings::kMaxFileBytes);
    const std::string fresh = testenv::ReadBytes(LogSettings::FilePath());
    EXPECT_NE(fresh.find("CBrailleDisplayDriver::Close"), std::string::npos) << fresh;
    EXPECT_EQ(fresh.find(filler), std::string::npos);
}

TEST_F(LogTest, AFolderThatCannotBeWrittenTurnsTheLogOffAndNothingElse)
{
    testenv::WriteBytes(LogSettings::Folder(), "a file where the folder should be");
    ASSERT_TRUE(Open());
    callbacks.Clear();
    display->Press({T1});
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "T1");
    EXPECT_FALSE(testenv::FolderExists(LogSettings::Folder()));
}

// The writer is slower than a burst of lines: some are dropped, and the
// lines written count every one of them, the last drops by the log's end.
TEST_F(LogTest, ABurstDropsLinesAndTheNextLineCountsThem)
{
    TraceLog::FollowSwitch();  // this program's own copy of the trace
    const int kLines = 100000;
    for (int i = 0; i < kLines; ++i)
        Trace("burst %d", i);
    LogSettings::Set(false);
    TraceLog::FollowSwitch();
    // A burst may fill the file: the old one holds its start.
    const std::vector<std::string> lines =
        Lines(testenv::ReadBytes(LogSettings::OldFilePath()) + testenv::ReadBytes(LogSettings::FilePath()));
    static const std::regex dropped("\\((\\d+) lines dropped\\)");
    long written = 0, counted = 0;
    for (const std::string& line : lines) {
        written += line.find(" burst ") != std::string::npos;
        std::smatch match;
        if (std::regex_search(line, match, dropped))
            counted += std::stol(match[1]);
    }
    printf("[ figures  ] %ld of %d lines written, %ld counted as dropped\n", written, kLines, counted);
    EXPECT_GT(counted, 0);
    EXPECT_EQ(written + counted, kLines);
}

}  // namespace
}  // namespace faults
