#include "SetupFixture.h"

using namespace testenv;

namespace {

const char kUninstaller[] = "Uninstall Cellivanta VK.exe";
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

}  // namespace

void SetupFixture::SetUp()
{
    folder = FreshDir("jaws-drivers");
    SetJawsFolder(folder);
}

void SetupFixture::TearDown()
{
    // Wine would carry them out when the prefix starts again.
    ClearPendingRenames();
    RemoveJawsFolder();
    RemoveTree(folder);
    m_uninstallKey.Delete();
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

// A silent uninstaller holds its log folder until it ends, a moment after
// its work is done.
void SetupFixture::RemoveLogFolders(const std::string& temp)
{
    WaitFor([&] {
        for (const std::string& name : LogFolders(temp))
            RemoveTree(temp + name);
        return LogFolders(temp).empty();
    });
}

void SetupFixture::SetJawsFolder(const std::string& path)
{
    m_jawsKey.SetText("", "Target", path);
}

void SetupFixture::SetJawsTarget(DWORD type, const std::string& bytes)
{
    m_jawsKey.SetValue("", "Target", type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void SetupFixture::RemoveJawsFolder()
{
    m_jawsKey.Delete();
}

bool SetupFixture::UninstallEntryExists() const
{
    return m_uninstallKey.Exists();
}

std::string SetupFixture::UninstallValue(const char* name) const
{
    char text[512] = "";
    DWORD cbText = sizeof text - 1;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, m_uninstallKey.Path().c_str(), name, RRF_RT_REG_SZ, nullptr, text, &cbText) != ERROR_SUCCESS)
        return "";
    return text;
}

void SetupFixture::SetUninstallValue(const char* name, const std::string& text)
{
    m_uninstallKey.SetText("", name, text);
}

int SetupFixture::RunSetup(const std::string& parameters)
{
    return RunProgram("\"" + BinDir() + "\\Setup.exe\" " + parameters);
}

DWORD SetupFixture::AnswerSetupsBox(const std::string& parameters, std::string& text, int button)
{
    Program setup("\"" + BinDir() + "\\Setup.exe\" " + parameters);
    DWORD exitCode = STILL_ACTIVE;
    HWND box = WaitForMessageBox(setup.ThreadId(), text);
    if (box && PostMessageA(box, WM_COMMAND, button, 0))
        setup.Wait(20000, exitCode);
    return exitCode;
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

void SetupFixture::Uninstall(const std::string& parameters, int exitCode)
{
    const std::string uninstaller = "\"" + In(kUninstaller) + "\"";
    ASSERT_EQ(UninstallValue("QuietUninstallString"), uninstaller + " /S _?=" + folder);
    ASSERT_EQ(RunProgram(uninstaller + " " + parameters + " _?=" + folder), exitCode);
    EXPECT_FALSE(UninstallEntryExists());
    EXPECT_NE(PendingRenames().find(kUninstaller), std::string::npos) << "the uninstaller stays after the restart";
}

std::string SetupFixture::UninstallLogged(int exitCode)
{
    const std::string logPath = folder + "-uninstall.log";
    DeleteFileA(logPath.c_str());
    Uninstall("/S /LOG=" + logPath, exitCode);
    const std::string log = ReadBytes(logPath);
    DeleteFileA(logPath.c_str());
    return log;
}

std::string SetupFixture::PendingRenames()
{
    std::string names(65536, '\0');
    DWORD cbNames = static_cast<DWORD>(names.size());
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames, RRF_RT_REG_MULTI_SZ, nullptr, &names[0],
                     &cbNames) != ERROR_SUCCESS)
        return "";
    names.resize(cbNames);
    return names;
}

void SetupFixture::ClearPendingRenames()
{
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSessionManager, kPendingRenames);
}
