#include "CDriverPackageInstaller.h"
#include "SystemLibrary.h"

#include <newdev.h>

const char CDriverPackageInstaller::kHardwareId[] = "USB\\VID_1C71&PID_C005";
const char CDriverPackageInstaller::kPackageName[] = "win7-64.inf";

namespace {

const DWORD kFlagFailed = 0x80;
const DWORD kFlagRestart = 0x40;
// Larger than any INF of ours: a bigger file is not the package anyway.
const DWORD kMaxPackageSize = 64 * 1024;

bool ParseOption(std::string word, CDriverPackageInstaller::Options& options)
{
    if (word.size() < 2 || (word[0] != '/' && word[0] != '-'))
        return false;
    CharLowerBuffA(&word[0], static_cast<DWORD>(word.size()));
    word.erase(0, 1);
    if (word == "f")
        options.bForce = true;
    else if (word == "q" || word == "sw")
        options.bQuiet = true;
    else if (word == "lm")
        options.bLegacyMode = true;
    else if (word != "se")  // no welcome or licence page to suppress
        return false;
    return true;
}

bool SameName(const std::string& a, const std::string& b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

bool IsFullPath(const std::string& folder)
{
    return (folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\') || folder.compare(0, 2, "\\\\") == 0;
}

std::vector<std::string> InfFilesIn(const std::string& folder)
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

DWORD LastErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error ? error : fallback;
}

}  // namespace

DWORD CDriverPackageInstaller::Result::ExitCode() const
{
    DWORD failed = static_cast<DWORD>(refusedInfs.size());
    bool packageRefused = false;
    for (const std::string& inf : refusedInfs)
        packageRefused = packageRefused || SameName(NameOf(inf), kPackageName);
    if (outcome == Outcome::Failed && !packageRefused)
        ++failed;
    const DWORD installed = outcome == Outcome::Installed ? 1 : 0;
    const DWORD ready = outcome == Outcome::UpToDate || outcome == Outcome::ReadyForDevice ? 1 : 0;
    const DWORD flags = (failed ? kFlagFailed : 0) | (bRebootRequired ? kFlagRestart : 0);
    return flags << 24 | (failed > 0xFF ? 0xFF : failed) << 16 | ready << 8 | installed;
}

bool CDriverPackageInstaller::ParseOptions(const std::string& commandLine, Options& options)
{
    // Every word is looked at, so that "/q" keeps an invalid line silent.
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
    // (and the import library lacks it). From the system folder only: this
    // program runs elevated from a folder the user can write to.
    HMODULE newdev = LoadSystemLibrary("newdev.dll");
    if (!newdev)
        return {nullptr, nullptr};
    return {reinterpret_cast<decltype(SetupCalls::updateDriver)>(
                reinterpret_cast<void*>(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesA"))),
            reinterpret_cast<decltype(SetupCalls::installDriver)>(
                reinterpret_cast<void*>(GetProcAddress(newdev, "DiInstallDriverA")))};
}

std::string CDriverPackageInstaller::FolderOf(const std::string& path)
{
    std::string::size_type separator = path.rfind('\\');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string CDriverPackageInstaller::NameOf(const std::string& path)
{
    std::string::size_type separator = path.rfind('\\');
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

CDriverPackageInstaller::CDriverPackageInstaller(const Options& options, std::string package, const SetupCalls& calls)
    : m_options(options), m_package(std::move(package)), m_calls(calls)
{
}

CDriverPackageInstaller::Result CDriverPackageInstaller::InstallFolder(const std::string& folder)
{
    Result result;
    // A relative or empty folder would search the current folder or the root
    // of the current drive.
    if (!IsFullPath(folder)) {
        result.dwError = ERROR_PATH_NOT_FOUND;
        return result;
    }
    for (const std::string& inf : InfFilesIn(folder))
        if (!SameName(NameOf(inf), kPackageName))
            result.refusedInfs.push_back(inf);

    const std::string package = folder + "\\" + kPackageName;
    // Held open without write or delete sharing until the installation is
    // over, so the file checked is the file installed.
    HANDLE file = CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        result.dwError = LastErrorOr(ERROR_FILE_NOT_FOUND);
        return result;
    }
    if (IsOurPackage(file)) {
        Result installed = InstallPackage(package);
        installed.refusedInfs = std::move(result.refusedInfs);
        result = std::move(installed);
    } else {
        result.dwError = ERROR_INVALID_DATA;
        result.refusedInfs.insert(result.refusedInfs.begin(), package);
    }
    CloseHandle(file);
    return result;
}

bool CDriverPackageInstaller::IsOurPackage(HANDLE file) const
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || size.QuadPart != static_cast<LONGLONG>(m_package.size()) ||
        size.QuadPart > kMaxPackageSize)
        return false;
    std::string content(m_package.size(), '\0');
    DWORD read = 0;
    if (!content.empty() && !ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr))
        return false;
    return read == content.size() && content == m_package;
}

CDriverPackageInstaller::Result CDriverPackageInstaller::InstallPackage(const std::string& infPath)
{
    Result result;
    if (!m_calls.updateDriver) {
        result.dwError = ERROR_PROC_NOT_FOUND;
        return result;
    }
    BOOL bReboot = FALSE;
    if (m_calls.updateDriver(nullptr, kHardwareId, infPath.c_str(), m_options.bForce ? INSTALLFLAG_FORCE : 0,
                             &bReboot)) {
        result.outcome = Outcome::Installed;
        result.bRebootRequired = bReboot != FALSE;
        return result;
    }
    const DWORD error = LastErrorOr(ERROR_GEN_FAILURE);
    // Not better than the display's driver, and not forced over it.
    if (error == ERROR_NO_MORE_ITEMS) {
        result.outcome = Outcome::UpToDate;
        return result;
    }
    // No display connected: only legacy mode puts the package in place for later.
    if (error != ERROR_NO_SUCH_DEVINST || !m_options.bLegacyMode) {
        result.dwError = error;
        return result;
    }
    if (!m_calls.installDriver) {
        result.dwError = ERROR_PROC_NOT_FOUND;
        return result;
    }
    bReboot = FALSE;
    if (!m_calls.installDriver(nullptr, infPath.c_str(), m_options.bForce ? DIIRFLAG_FORCE_INF : 0, &bReboot)) {
        result.dwError = LastErrorOr(ERROR_GEN_FAILURE);
        return result;
    }
    result.outcome = Outcome::ReadyForDevice;
    result.bRebootRequired = bReboot != FALSE;
    return result;
}
