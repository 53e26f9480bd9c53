// Puts recording stand-ins in place of the tool's platform calls for the life
// of the object: programs are not started but recorded, the temporary folder
// and the bitness are what the test says, and the clean-up calls are recorded
// (and still done).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class FakePlatform {
public:
    enum class Bitness { Real, Absent, Is32, Is64 };

    struct Launch {
        std::string file;
        std::string parameters;  // "(null)" when none was passed
        bool hasOwner;
        bool hasVerb;
        bool hasDirectory;
        int show;
    };

    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // What GetTempPathA reports: this path, or the given result without
    // writing anything (0 = failure, above 260 = too long for the buffer).
    void SetTempPath(const std::string& path);
    void FailTempPath(DWORD result);
    // Whether "IsWow64Process" exists and what it reports.
    void SetBitness(Bitness bitness);

    std::vector<Launch> Launches() const;
    // "delete <path>" and "rmdir <path>", in the order the tool asked.
    std::vector<std::string> CleanUp() const;
};
