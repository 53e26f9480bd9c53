// The shipped CellivantaVKTools.exe as a user starts it: its dialog comes up,
// with no working folder until a click, and closing it ends the program;
// DLLs planted beside it are not used.
#include "FakePlatform.h"
#include "PlantedDlls.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testenv;

namespace {

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK TakeProcessDialog(HWND hWnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hWnd, &owner);
    char className[16] = {};
    GetClassNameA(hWnd, className, sizeof(className));
    if (owner != search->processId || lstrcmpA(className, "#32770") != 0 || !IsWindowVisible(hWnd))
        return TRUE;
    search->found = hWnd;
    return FALSE;
}

HWND FindProcessDialog(DWORD processId)
{
    Search search = {processId, nullptr};
    EnumWindows(TakeProcessDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

TEST(Program, ShowsItsDialogAndEndsWhenClosed)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string tempFolder = std::string(temp).substr(0, strlen(temp) - 1);

    Program tool("\"" + BinDir() + "\\CellivantaVKTools.exe\"");
    ASSERT_TRUE(tool.Started());
    HWND dialog = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (dialog = FindProcessDialog(tool.ProcessId())) != nullptr; }, 20000));
    if (dialog) {
        char caption[128] = {};
        GetWindowTextA(dialog, caption, sizeof(caption));
        EXPECT_STREQ(caption, "Cellivanta VK tools installation");
        EXPECT_EQ(FakePlatform::WorkFolderIn(tempFolder), "") << "no working folder before a click";
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
    DWORD exitCode = 1;
    EXPECT_TRUE(tool.Wait(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(FakePlatform::WorkFolderIn(tempFolder), "");
}

// The tool runs from wherever it was saved (a downloads folder): DLLs planted
// there under the names of the system DLLs it uses are left alone.
TEST(Program, PlantedDllsBesideItAreNotLoaded)
{
    const std::string folder = FreshDir("tool-planted");
    const std::string tool = folder + "\\CellivantaVKTools.exe";
    ASSERT_TRUE(CopyFileA((BinDir() + "\\CellivantaVKTools.exe").c_str(), tool.c_str(), FALSE));
    PlantedDlls planted(folder, {"comctl32.dll", "newdev.dll"}, false);
    ASSERT_TRUE(planted.WouldBeFound()) << "the test registration must set WINEDLLOVERRIDES";

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + tool + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
    HWND dialog = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (dialog = FindProcessDialog(process.dwProcessId)) != nullptr; }, 20000));
    if (dialog)
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(planted.Loaded(), std::vector<std::string>{});
    RemoveTree(folder);
}

}  // namespace
