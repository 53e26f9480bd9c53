// A stand-in for a test program, for the runner's tests: what it does
// follows the name it was copied to (pass, fail, skip, hang, crash, args).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = strrchr(path, '\\') + 1;
    name = name.substr(0, name.find_first_of(".0123456789"));
    if (name == "hang")
        Sleep(60000);
    if (name == "crash")
        return static_cast<int>(0xC0000005);
    if (name == "args")
        printf("command line: %s\n", GetCommandLineA());
    if (name == "skip") {
        printf("[ RUN      ] S.Case\nfake.cpp:1: Skipped\nno pairs here\n\n[  SKIPPED ] S.Case (0 ms)\n");
        printf("[  PASSED  ] 0 tests.\n[  SKIPPED ] 1 test, listed below:\n[  SKIPPED ] S.Case\n");
        return 0;
    }
    if (name == "fail") {
        printf("[  PASSED  ] 1 test.\n[  FAILED  ] 1 test, listed below:\n[  FAILED  ] F.Case\n");
        return 1;
    }
    printf("[  PASSED  ] 2 tests.\n");
    return 0;
}
