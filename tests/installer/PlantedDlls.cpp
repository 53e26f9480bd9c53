#include "PlantedDlls.h"
#include "TestEnv.h"

#include <windows.h>

using namespace testenv;

PlantedDlls::PlantedDlls(const std::string& folder, const std::vector<std::string>& names, bool is64Bit)
    : m_folder(folder), m_names(names)
{
    const std::string source = (is64Bit ? Bin64Dir() : BinDir()) + "\\planted.dll";
    for (const std::string& name : names)
        CopyFileA(source.c_str(), (folder + "\\" + name).c_str(), FALSE);
}

// Tried in this process, which was started with the same settings as the
// programs it starts: a planted newdev.dll in a folder of the search path
// must be the one loaded. Run before any program of the test loads it.
bool PlantedDlls::WouldBeFound() const
{
    const std::string control = FreshDir("planted-control");
    PlantedDlls copy(control, {"newdev.dll"}, sizeof(void*) == 8);
    SetDllDirectoryA(control.c_str());
    HMODULE loaded = LoadLibraryA("newdev.dll");
    SetDllDirectoryA(nullptr);
    const bool found = !copy.Loaded().empty();
    if (loaded)
        FreeLibrary(loaded);
    RemoveTree(control);
    return found;
}

std::vector<std::string> PlantedDlls::Loaded() const
{
    std::vector<std::string> loaded;
    for (const std::string& name : m_names)
        if (FileExists(m_folder + "\\" + name + ".loaded"))
            loaded.push_back(name);
    return loaded;
}
