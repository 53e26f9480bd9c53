// Translation of queued records against key map files written by the test.
#pragma once

#include "TestDisplay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

namespace keytest {

// What TranslateKeyCombinationForJaws handed back for one record.
struct Translated {
    bool result = false;
    std::string name;
    int length = 0;
    int routing = 0;
    WORD dots = 0;
};

class KeyMapTest : public ::testing::Test {
protected:
    static constexpr int kCapacity = 1000;  // what the dispatch passes

    // The pending modifier outlives a test: deliver one combination without a
    // key map so that every test starts with none.
    void SetUp() override
    {
        display.Push(Keys{0, 1});
        char buffer[kCapacity];
        int length = kCapacity, routing = 0;
        WORD dots = 0;
        ASSERT_TRUE(display.TranslateKeyCombinationForJaws(nullptr, buffer, length, routing, dots));
    }

    std::string WriteKeyMap(const std::string& text, const std::string& file = "kvbrl.ini")
    {
        static const std::string dir = testenv::FreshDir("keys");
        const std::string path = dir + "\\" + file;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        return path;
    }

    // Queues one record and translates it; the outputs start as sentinels so
    // that untouched ones show.
    Translated Translate(const Keys& keys, const std::string& iniPath, int capacity = kCapacity)
    {
        display.Push(keys);
        return TranslateQueued(iniPath.empty() ? nullptr : iniPath.c_str(), capacity);
    }

    Translated TranslateQueued(const char* iniPath, int capacity = kCapacity)
    {
        char buffer[kCapacity];
        strcpy(buffer, "untouched");
        Translated t;
        t.length = capacity, t.routing = -7, t.dots = 0xBEEF;
        t.result = display.TranslateKeyCombinationForJaws(iniPath, buffer, t.length, t.routing, t.dots);
        t.name = buffer;
        return t;
    }

    TestDisplay display;
};

// The ways a record comes out: a name (dots 0), dots (with the name of a
// pending modifier or none), a modifier kept back, nothing written at all.
inline ::testing::AssertionResult Failure(const Translated& t)
{
    return ::testing::AssertionFailure() << "result " << t.result << ", name '" << t.name << "', length "
                                         << t.length << ", routing " << t.routing << ", dots 0x" << std::hex
                                         << t.dots;
}

inline ::testing::AssertionResult IsName(const Translated& t, const std::string& name, int routing = 0)
{
    bool ok = t.result && t.name == name && t.length == static_cast<int>(name.size()) && t.routing == routing &&
              t.dots == 0;
    return ok ? ::testing::AssertionSuccess() : Failure(t);
}

inline ::testing::AssertionResult IsDots(const Translated& t, WORD dots, const std::string& name = "")
{
    // The buffer holds what the length says, also when that is nothing.
    bool ok = t.result && t.name == name && t.length == static_cast<int>(name.size()) && t.routing == 0 &&
              t.dots == dots;
    return ok ? ::testing::AssertionSuccess() : Failure(t);
}

inline ::testing::AssertionResult IsHeld(const Translated& t, const std::string& modifier)
{
    bool ok = !t.result && t.name == modifier && t.routing == 0 && t.dots == 0;
    return ok ? ::testing::AssertionSuccess() : Failure(t);
}

// Dropped by the translation: result false, the name and its length as the caller left them.
inline ::testing::AssertionResult IsDropped(const Translated& t, int capacity)
{
    bool ok = !t.result && t.name == "untouched" && t.length == capacity && t.routing == 0 && t.dots == 0;
    return ok ? ::testing::AssertionSuccess() : Failure(t);
}

}  // namespace keytest
