// Puts recording stand-ins in place of the tool's platform calls for the life
// of the object: programs are not started but recorded (or refused with an
// error), message boxes are recorded and answered at once, the temporary
// folder, the random names, the bitness and the safe DLL search are what the
// test says, another program may be made to get in the way of a payload just
// written, and the clean-up calls are recorded (and still done). Paths are recorded in UTF-8.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class FakePlatform {
public:
    enum class Bitness { Real, Absent, Is32, Is64 };
    // What another program does to a payload file as the tool opens it again
    // to hold it: holds it open itself, denying all sharing (an antivirus,
    // until LetGo), makes the first read of it fail, or changes a byte of it.
    enum class Interference { Holds, ReadFails, Changes };

    struct Launch {
        std::string file;
        std::string parameters;  // "(null)" when none was passed
        HWND owner;
        bool hasVerb;
        bool hasDirectory;
        int show;
        bool writable;  // another program could have written the file as it started
        bool viaShell;  // false: CreateProcessW, with the whole command line in parameters
    };

    struct Message {
        HWND owner;
        std::string text;
        std::string caption;
    };

    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    // What GetTempPathW reports: this path (UTF-8), or the given result
    // without writing anything (0 = failure, above the buffer = too long).
    void SetTempPath(const std::string& path);
    void FailTempPath(DWORD result);
    // Random bytes: the nth request made after this call gets n in every byte.
    void CountRandom();
    // Whether "IsWow64Process" exists and what it reports.
    void SetBitness(Bitness bitness);
    // Starting a program fails with this error (ERROR_SUCCESS: it succeeds).
    void FailLaunches(DWORD error);
    // Whether "SetDefaultDllDirectories" exists (a Windows 7 without its
    // loader update lacks it).
    void SetSafeDllSearch(bool present);
    // Whether the tool believes it runs elevated (not, unless told).
    void SetElevated(bool elevated);
    // The next time the tool opens the payload file named name again, once.
    void InterfereWith(const std::string& name, Interference what);
    // The holding program closes the file.
    void LetGo();

    std::vector<Launch> Launches() const;
    std::vector<Message> Messages() const;
    // "delete <path>" and "rmdir <path>", in the order the tool asked.
    std::vector<std::string> CleanUp() const;

    // The tool's working folder in this temporary folder (UTF-8): the one
    // folder there named as the tool names it; empty when there is none.
    static std::string WorkFolderIn(const std::string& temp);

    static std::string Utf8(const std::wstring& text);
    static std::wstring Wide(const std::string& utf8);
};
