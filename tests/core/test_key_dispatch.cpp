// Keys from the display to the screen reader: key frames from the simulator,
// through the loaded VK.JLB, to the callbacks on the thread that opened it.
#include "FaultSession.h"
#include "core/CBrailleDisplayDriver.h"

#include <fstream>
#include <sstream>

namespace {

using namespace keycode;

// What `vkkeys list` prints for one chord, under its section's heading.
struct Listed {
    std::string heading, chord, gives;
};

std::vector<Listed> VkkeysList(const std::string& keyMap)
{
    std::string output;
    EXPECT_EQ(testenv::RunProgram("\"" + testenv::BinDir() + "\\vkkeys.exe\" list \"" + keyMap + "\"", output), 0);
    std::vector<Listed> listed;
    std::string heading;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find(" = ");
        if (equals != std::string::npos)
            listed.push_back({heading, line.substr(0, line.find(' ')), line.substr(equals + 3)});
        else if (!line.empty() && line.back() == ':')
            heading = line;
    }
    return listed;
}

// The driver opened with a key map of its own, in the folder of its path.
class KeyDispatchTest : public faults::FaultSession {
protected:
    void SetUp() override
    {
        FaultSession::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        folder = testenv::FreshDir("dispatch");
        std::ofstream ini(folder + "\\kvbrl.ini");
        ini << "[Typing Modifiers]\nC1=Control\nC2=Function\n"
               "[Typing]\nD1+D9+C1=Tab\n"
               "[Function Keys]\nD1=1\n";
        ini.close();
        ASSERT_TRUE(OpenOn(testenv::DriverPort(1), folder + "\\VK.JLB"));
        // The typing modifier waiting in the library outlives a session: a
        // test stopped in the middle of a chord would pass it on. D1 is taken
        // by any modifier of this map (it is a function key too).
        display->Press({D1});
        ASSERT_EQ(Await(1).size(), 1u);
        callbacks.Clear();
    }

    std::string folder;
};

TEST_F(KeyDispatchTest, CommandAndRoutingKeysArriveByName)
{
    display->Press({T1, D2});
    display->Press({R(5)});
    const auto got = Await(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].kind, Delivery::Command);
    EXPECT_EQ(got[0].name, "D2+T1");
    EXPECT_EQ(got[0].routing, 0);
    EXPECT_EQ(got[1].name, "Routing");
    EXPECT_EQ(got[1].routing, 5);
    for (const auto& d : got)
        EXPECT_EQ(d.threadId, GetCurrentThreadId()) << "callbacks come on the opening thread";
}

TEST_F(KeyDispatchTest, TypedCharactersGoThroughDotsToChar)
{
    display->Press({D1});        // a
    display->Press({D9});        // space, without asking DotsToChar
    display->Press({D1, D2});    // b
    display->Press({D4, D9 + 0}); // D4 with the space is a command, not a character
    const auto got = Await(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].kind, Delivery::Typed);
    EXPECT_EQ(got[0].name, "a");
    EXPECT_EQ(got[1].name, " ");
    EXPECT_EQ(got[2].name, "b");
    EXPECT_EQ(got[3].kind, Delivery::Command);
    EXPECT_EQ(got[3].name, "D4+D9");
    EXPECT_EQ(callbacks.DotsAsked(), (std::vector<WORD>{0x01, 0x03}));
}

TEST_F(KeyDispatchTest, PatternsWithoutACharacterDeliverNothing)
{
    const size_t before = bytesHandled;
    display->Press({D4});  // dots 4: our DotsToChar knows no character for it
    ASSERT_TRUE(AwaitBytesHandled(before + 8));
    EXPECT_TRUE(callbacks.Deliveries().empty());
    EXPECT_EQ(callbacks.DotsAsked(), std::vector<WORD>{0x08});
}

TEST_F(KeyDispatchTest, ModifiersJoinTheNextCombination)
{
    display->Press({C1});        // Control pending
    display->Press({D1});        // qwerty:Control + a
    display->Press({C1});
    display->Press({D9});        // qwerty:Control + space
    display->Press({C1});
    display->Press({D4});        // no character: the name alone
    display->Press({C2});        // Function pending
    display->Press({D1});        // F1
    display->Press({D1, D9, C1}); // a Typing entry
    const auto got = Await(5);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].name, "qwerty:Control+a");
    EXPECT_EQ(got[1].name, "qwerty:Control+ ");
    EXPECT_EQ(got[2].name, "qwerty:Control");
    EXPECT_EQ(got[3].name, "qwerty:F1");
    EXPECT_EQ(got[4].name, "qwerty:Tab");
    for (const auto& d : got)
        EXPECT_EQ(d.kind, Delivery::Command);
}

TEST_F(KeyDispatchTest, ThreeCombinationsInOnePollArriveInOrder)
{
    std::vector<BYTE> burst;
    for (BYTE code : {T1, R(1), D1})
        for (BYTE id : {kKeyDownFrame, kKeyUpFrame}) {
            auto frame = KeyFrame(id, code);
            burst.insert(burst.end(), frame.begin(), frame.end());
        }
    display->SendRaw(burst);
    const auto got = Await(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].name, "T1");
    EXPECT_EQ(got[1].name, "Routing");
    EXPECT_EQ(got[1].routing, 1);
    EXPECT_EQ(got[2].name, "a");
}

// A key map that vkkeys checks clean does in the driver what vkkeys lists:
// each listed keyboard key, modifier and function key is pressed on the
// display and arrives as the name the list gives.
TEST_F(KeyDispatchTest, ACleanKeyMapWorksAsVkkeysListsIt)
{
    const std::string keyMap = folder + "\\kvbrl.ini";
    std::ofstream(keyMap, std::ios::trunc) << "[Typing Modifiers]\nC1=Control\nC6=Function\n"
                                              "[Typing]\nD4+D9=DownArrow\nD1+D2+D9+C1=End\n"
                                              "[Function Keys]\nD1+D2=2\n";
    std::string output;
    ASSERT_EQ(testenv::RunProgram("\"" + testenv::BinDir() + "\\vkkeys.exe\" check \"" + keyMap + "\"", output), 0)
        << output;
    const std::vector<Listed> listed = VkkeysList(keyMap);
    ASSERT_EQ(listed.size(), 5u);
    std::vector<BYTE> function;
    for (const Listed& l : listed)
        if (l.gives == "Function")
            function = ChordCodes(l.chord);
    ASSERT_FALSE(function.empty());

    std::vector<std::string> expected;
    auto press = [&](const std::vector<BYTE>& codes) {
        for (BYTE code : codes)
            display->KeyDown(code);
        for (BYTE code : codes)
            display->KeyUp(code);
    };
    for (const Listed& l : listed) {
        if (l.heading.find("Function") != std::string::npos) {
            press(function);
            press(ChordCodes(l.chord));
            expected.push_back("qwerty:" + l.gives);
        } else if (l.heading.find("Modifiers") != std::string::npos && l.gives != "Function") {
            press(ChordCodes(l.chord));
            press({D1});
            expected.push_back("qwerty:" + l.gives + "+a");
        } else if (l.heading.find("Keyboard") != std::string::npos) {
            press(ChordCodes(l.chord));
            expected.push_back("qwerty:" + l.gives);
        }
    }
    ASSERT_EQ(expected.size(), 4u);
    const auto got = Await(expected.size());
    std::vector<std::string> names;
    for (const auto& d : got)
        names.push_back(d.name);
    EXPECT_EQ(names, expected);
}

TEST_F(KeyDispatchTest, EncodedTypeKeyHandsBackTheScreenReadersAnswer)
{
    callbacks.typedResult = 42;
    const DWORD tick = GetTickCount();
    EXPECT_EQ(driver->EncodedTypeKey('a'), 42);
    ASSERT_EQ(callbacks.lastRecord.size(), 3u);
    const auto& r = callbacks.lastRecord;
    EXPECT_EQ(r[0] ^ r[1] ^ r[2], 'a');
    EXPECT_LE(static_cast<BYTE>(r[0] - static_cast<BYTE>(tick)), 50) << "byte 0 is the tick count's low byte";
    callbacks.typedResult = 0;
    EXPECT_EQ(driver->EncodedTypeKey('z'), 0);
}

TEST_F(KeyDispatchTest, KeysWithoutCallbacksAreDroppedSafely)
{
    EXPECT_EQ(driver->SetCallbacks(nullptr), &callbacks);
    const size_t before = bytesHandled;
    display->Press({T1});
    ASSERT_TRUE(AwaitBytesHandled(before + 8)) << "the press never reached the driver";
    EXPECT_EQ(driver->EncodedTypeKey('x'), 0);

    RecordingCallbacks other;
    driver->SetCallbacks(&other);
    display->Press({R(3)});
    PumpUntil([&] { return !other.Deliveries().empty(); }, 2000);
    ASSERT_EQ(other.Deliveries().size(), 1u);
    EXPECT_EQ(other.Deliveries()[0].routing, 3);
    EXPECT_TRUE(callbacks.Deliveries().empty());
}

TEST_F(KeyDispatchTest, AnotherWindowOfTheClassIsNotFedBytes)
{
    HWND other = CreateWindowExA(0, "BrailleDisplayDrvClass", nullptr, WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA("VK.JLB"), nullptr);
    ASSERT_NE(other, nullptr);
    // Sent, not posted: handled (or ignored) before SendMessage returns.
    for (BYTE id : {kKeyDownFrame, kKeyUpFrame})
        for (BYTE b : KeyFrame(id, T1))
            SendMessageA(other, CBrailleDisplayDriver::WM_DEVICE_BYTE, b, 0);
    SendMessageA(other, CBrailleDisplayDriver::WM_PROCESS_KEY_QUEUE, 0, 0);
    DestroyWindow(other);
    EXPECT_TRUE(callbacks.Deliveries().empty());

    display->Press({T1});
    ASSERT_EQ(Await(1).size(), 1u) << "the driver's own assembler was not disturbed";
}

TEST_F(KeyDispatchTest, KeysArriveAgainAfterSleepAndWake)
{
    ASSERT_TRUE(driver->Sleep(TRUE));
    ASSERT_TRUE(driver->Sleep(FALSE));
    display->Press({T1});
    const auto got = Await(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].name, "T1");
    EXPECT_EQ(got[0].threadId, GetCurrentThreadId());
}

}  // namespace
