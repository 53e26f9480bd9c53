// What the installer's tests share: the build's files as Wine sees them,
// scratch folders, reading files, waiting for a condition, running programs.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace installertest {

// A host path as Wine sees it (Z:\...).
std::string WinPath(const std::string& unixPath);
// The source tree, the 32-bit tree's bin folder and the 64-bit tree's.
std::string SourceDir();
std::string BinDir();
std::string Bin64Dir();

// A fresh empty folder (any old one of the same name is removed first).
std::string FreshDir(const std::string& name);
void RemoveTree(const std::string& folder);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

// Polls until the condition holds or the time is up; true if it held.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// Starts a program, waits for it and returns its exit code (-1 when it could
// not be started, -2 when it did not end in time and was stopped).
int RunProgram(const std::string& commandLine, DWORD timeoutMs = 60000);

// Waits for a message box of the given thread to show its text; returns the
// box (null when none came) with its text in text.
HWND WaitForMessageBox(DWORD threadId, std::string& text, DWORD timeoutMs = 20000);

// DLLs planted in a folder under the names of system DLLs: copies of the
// tests' marker DLL (planted.dll, 32- or 64-bit), which leaves a marker file
// beside itself when loaded. Wine prefers its own copy of a system DLL; the
// test registration tells it (WINEDLLOVERRIDES, read when a process starts)
// to prefer such copies, as Windows does for DLLs that are not known DLLs
// when a program does not restrict the search.
class PlantedDlls {
public:
    PlantedDlls(const std::string& folder, const std::vector<std::string>& names, bool is64Bit);

    // Whether the programs this process starts would use a planted copy when
    // they search a folder that holds one; without it a test proves nothing.
    bool WouldBeFound() const;
    // The planted names that were loaded.
    std::vector<std::string> Loaded() const;

private:
    std::string m_folder;
    std::vector<std::string> m_names;
};

}  // namespace installertest
