#include "CDriverPackageInstaller.h"

#include <newdev.h>


const char CDriverPackageInstaller::kHardwareId[] = "USB\\VID_1C71&PID_C005";

namespace {

bool ParseOption(std::string word, CDriverPackageInstaller::Options& options)
{
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-'))
        return false;
    CharLowerBuffA(&word[0], static_cast<DWORD>(word.size()));
    word.erase(0, 1);
    if (word == "f")
        options.bForce = true;
    else if (word == "se")
        options.bSilent = true;
    else if (word == "lm")
        options.bLegacyMode = true;
    else
        return false;
    return true;
}

}  // namespace

bool CDriverPackageInstaller::ParseOptions(const std::string& commandLine, Options& options)
{
    // Every word is looked at, so that "/se" keeps an invalid line silent.
    const char* blanks = " \t";
    bool valid = true;
    std::string::size_type start = commandLine.find_first_not_of(blanks);
    while (start != std::string::npos) {
        std::string::size_type end = commandLine.find_first_of(blanks, start);
        valid = ParseOption(commandLine.substr(start, end - start), options) && valid;
        start = commandLine.find_first_not_of(blanks, end);
    }
    return valid;
}

CDriverPackageInstaller::SetupCalls CDriverPackageInstaller::PlatformCalls()
{
    // Looked up at run time: DiInstallDriverA exists only from Windows Vista on
    // (and the import library lacks it).
    HMODULE newdev = LoadLibraryA("newdev.dll");
    if (!newdev)
        return {nullptr, nullptr};
    return {reinterpret_cast<decltype(SetupCalls::updateDriver)>(
                reinterpret_cast<void*>(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesA"))),
            reinterpret_cast<decltype(SetupCalls::installDriver)>(
                reinterpret_cast<void*>(GetProcAddress(newdev, "DiInstallDriverA")))};
}

std::vector<std::string> CDriverPackageInstaller::FindInfFiles(const std::string& folder)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.inf").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(folder + "\\" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

CDriverPackageInstaller::CDriverPackageInstaller(const Options& options, const SetupCalls& calls)
    : m_options(options), m_calls(calls), m_bRebootRequired(false)
{
}

DWORD CDriverPackageInstaller::InstallFolder(const std::string& folder)
{
    const std::vector<std::string> infFiles = FindInfFiles(folder);
    if (infFiles.empty())
        return ERROR_FILE_NOT_FOUND;
    for (const std::string& infPath : infFiles) {
        DWORD error = InstallInf(infPath);
        if (error != ERROR_SUCCESS)
            return error;
    }
    return m_bRebootRequired ? ERROR_SUCCESS_REBOOT_REQUIRED : ERROR_SUCCESS;
}

DWORD CDriverPackageInstaller::InstallInf(const std::string& infPath)
{
    if (!m_calls.updateDriver)
        return ERROR_PROC_NOT_FOUND;
    BOOL bReboot = FALSE;
    DWORD flags = m_options.bForce ? INSTALLFLAG_FORCE : 0;
    if (m_calls.updateDriver(nullptr, kHardwareId, infPath.c_str(), flags, &bReboot)) {
        m_bRebootRequired = m_bRebootRequired || bReboot;
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    // No display connected: only legacy mode puts the package in place for later.
    if (error != ERROR_NO_SUCH_DEVINST || !m_options.bLegacyMode)
        return error ? error : ERROR_GEN_FAILURE;
    if (!m_calls.installDriver)
        return ERROR_PROC_NOT_FOUND;
    bReboot = FALSE;
    if (!m_calls.installDriver(nullptr, infPath.c_str(), m_options.bForce ? DIIRFLAG_FORCE_INF : 0, &bReboot)) {
        error = GetLastError();
        return error ? error : ERROR_GEN_FAILURE;
    }
    m_bRebootRequired = m_bRebootRequired || bReboot;
    return ERROR_SUCCESS;
}
