// The shipped CellivantaVKTools.exe as a user starts it: its dialog comes up
// with the working folder in the temporary folder, and closing it ends the
// program and removes the folder again.
#include "TestEnv.h"

#include <gtest/gtest.h>

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

TEST(Program, ShowsItsDialogAndCleansUpWhenClosed)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string workFolder = std::string(temp) + "CellivantaInstall";
    RemoveTree(workFolder);

    Program tool("\"" + BinDir() + "\\CellivantaVKTools.exe\"");
    ASSERT_TRUE(tool.Started());
    HWND dialog = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (dialog = FindProcessDialog(tool.ProcessId())) != nullptr; }, 20000));
    if (dialog) {
        char caption[128] = {};
        GetWindowTextA(dialog, caption, sizeof(caption));
        EXPECT_STREQ(caption, "Cellivanta VK tools installation");
        EXPECT_TRUE(FolderExists(workFolder));
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
    DWORD exitCode = 1;
    EXPECT_TRUE(tool.Wait(20000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(FolderExists(workFolder));
}

}  // namespace
