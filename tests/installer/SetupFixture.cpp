#include "SetupFixture.h"

using namespace testenv;

namespace {

const char kJawsKey[] = "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CellivantaVK";
const char kUninstaller[] = "Uninstall Cellivanta VK.exe";

}  // namespace

void SetupFixture::SetUp()
{
    folder = FreshDir("jaws-drivers");
    SetJawsFolder(folder);
}

void SetupFixture::TearDown()
{
    RemoveJawsFolder();
    RemoveTree(folder);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    RemoveLogFolders(TempDir());
}

std::string SetupFixture::TempDir()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

std::vector<std::string> SetupFixture::LogFolders(const std::string& temp)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + "Cellivanta VK setup *").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            names.push_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

void SetupFixture::RemoveLogFolders(const std::string& temp)
{
    for (const std::string& name : LogFolders(temp))
        RemoveTree(temp + name);
}

void SetupFixture::SetJawsFolder(const std::string& path)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kJawsKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Target", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
}

void SetupFixture::RemoveJawsFolder()
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kJawsKey, KEY_WOW64_64KEY, 0);
}

bool SetupFixture::UninstallEntryExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::string SetupFixture::UninstallValue(const char* name)
{
    char text[512] = "";
    DWORD cbText = sizeof text - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kUninstallKey, name, RRF_RT_REG_SZ, nullptr, text, &cbText) != ERROR_SUCCESS)
        return "";
    return text;
}

void SetupFixture::SetUninstallValue(const char* name, const std::string& text)
{
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kUninstallKey, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

int SetupFixture::RunSetup(const std::string& parameters)
{
    return RunProgram("\"" + BinDir() + "\\Setup.exe\" " + parameters);
}

int SetupFixture::RunSetupLogged(const std::string& parameters, std::string& log)
{
    const std::string logPath = folder + "-setup.log";
    DeleteFileA(logPath.c_str());
    int exitCode = RunSetup("/S " + parameters + " /LOG=" + logPath);
    log = ReadBytes(logPath);
    DeleteFileA(logPath.c_str());
    return exitCode;
}

void SetupFixture::Uninstall(const std::string& parameters)
{
    ASSERT_EQ(RunProgram("\"" + In(kUninstaller) + "\" " + parameters), 0);
    EXPECT_TRUE(WaitFor([&] { return !FileExists(In(kUninstaller)) && !UninstallEntryExists(); }, 30000));
}
