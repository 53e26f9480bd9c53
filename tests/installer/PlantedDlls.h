// DLLs planted in a folder under the names of system DLLs: copies of the
// tests' marker DLL (planted.dll, 32- or 64-bit), which leaves a marker file
// beside itself when loaded. Wine prefers its own copy of a system DLL; the
// test registration tells it (WINEDLLOVERRIDES, read when a process starts)
// to prefer such copies, as Windows does for DLLs that are not known DLLs
// when a program does not restrict the search.
#pragma once

#include <string>
#include <vector>

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
