#include "CDriverPackageInstaller.h"
#include "CPrivateFolder.h"
#include "SystemLibrary.h"

#include <newdev.h>

const wchar_t CDriverPackageInstaller::kHardwareId[] = L"USB\\VID_1C71&PID_C005";
const wchar_t CDriverPackageInstaller::kPackageName[] = L"win7-64.inf";

namespace {

// Where Windows keeps each instance of the display it has seen.
const wchar_t kDisplayKey[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1C71&PID_C005";
const DWORD kWindows10 = 10;

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

bool IsFullPath(const std::wstring& folder)
{
    return (folder.size() >= 3 && folder[1] == L':' && folder[2] == L'\\') || folder.compare(0, 2, L"\\\\") == 0;
}

std::vector<std::wstring> InfFilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.inf").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(folder + L"\\" + found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return files;
}

DWORD LastErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error ? error : fallback;
}

DWORD RealWindowsMajorVersion()
{
    // GetVersionEx answers what the manifest declares; the kernel's own call does not.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto getVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    return getVersion && getVersion(&version) == 0 ? version.dwMajorVersion : 0;
}

std::wstring PortOfInstance(HKEY display, const wchar_t* instance)
{
    wchar_t port[64] = {};
    DWORD size = sizeof(port) - sizeof(wchar_t);
    const std::wstring parameters = std::wstring(instance) + L"\\Device Parameters";
    if (RegGetValueW(display, parameters.c_str(), L"PortName", RRF_RT_REG_SZ, nullptr, port, &size) != ERROR_SUCCESS)
        return std::wstring();
    return port;
}

}  // namespace

DWORD CDriverPackageInstaller::Result::ExitCode() const
{
    DWORD failed = static_cast<DWORD>(refusedInfs.size()) + (outcome == Outcome::Failed ? 1 : 0);
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
    // Looked up at run time: DiInstallDriverW exists only from Windows Vista on
    // (and the import library lacks it). From the system folder only: this
    // program runs elevated from a folder the user can write to.
    SetupCalls calls = {nullptr, nullptr, RealWindowsMajorVersion, std::wstring()};
    HMODULE newdev = LoadSystemLibrary("newdev.dll");
    if (!newdev)
        return calls;
    calls.updateDriver = reinterpret_cast<decltype(SetupCalls::updateDriver)>(
        reinterpret_cast<void*>(GetProcAddress(newdev, "UpdateDriverForPlugAndPlayDevicesW")));
    calls.installDriver = reinterpret_cast<decltype(SetupCalls::installDriver)>(
        reinterpret_cast<void*>(GetProcAddress(newdev, "DiInstallDriverW")));
    return calls;
}

std::wstring CDriverPackageInstaller::FolderOf(const std::wstring& path)
{
    std::wstring::size_type separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring CDriverPackageInstaller::NameOf(const std::wstring& path)
{
    std::wstring::size_type separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring CDriverPackageInstaller::DisplayPort()
{
    HKEY display = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDisplayKey, 0, KEY_READ | KEY_WOW64_64KEY, &display) != ERROR_SUCCESS)
        return std::wstring();
    std::wstring port;
    wchar_t instance[256];
    for (DWORD index = 0; port.empty(); ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(display, index, instance, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        port = PortOfInstance(display, instance);
    }
    RegCloseKey(display);
    return port;
}

CDriverPackageInstaller::CDriverPackageInstaller(const Options& options, std::string package, const SetupCalls& calls)
    : m_options(options), m_package(std::move(package)), m_calls(calls)
{
}

CDriverPackageInstaller::Result CDriverPackageInstaller::InstallFolder(const std::wstring& folder, HWND owner)
{
    // A relative or empty folder would search the current folder or the root
    // of the current drive.
    if (!IsFullPath(folder)) {
        Result result;
        result.dwError = ERROR_PATH_NOT_FOUND;
        return result;
    }
    Result result;
    if (WindowsProvidesDriver()) {
        result.outcome = Outcome::ProvidedByWindows;
        result.portName = DisplayPort();
    } else {
        result = InstallPrivateCopy(owner);
    }
    result.refusedInfs = ForeignInfs(folder);
    return result;
}

std::vector<std::wstring> CDriverPackageInstaller::ForeignInfs(const std::wstring& folder) const
{
    std::vector<std::wstring> foreign;
    for (const std::wstring& inf : InfFilesIn(folder))
        if (lstrcmpiW(inf.substr(folder.size() + 1).c_str(), kPackageName) != 0 || !IsOurPackage(inf))
            foreign.push_back(inf);
    return foreign;
}

bool CDriverPackageInstaller::IsOurPackage(const std::wstring& path) const
{
    // Only read, never installed: what lies beside the installer is the user's.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    std::string content(m_package.size(), '\0');
    DWORD read = 0;
    const bool same = GetFileSizeEx(file, &size) && size.QuadPart == static_cast<LONGLONG>(m_package.size()) &&
                      size.QuadPart <= kMaxPackageSize &&
                      (content.empty() || ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr)) &&
                      read == content.size() && content == m_package;
    CloseHandle(file);
    return same;
}

bool CDriverPackageInstaller::WindowsProvidesDriver() const
{
    return m_calls.windowsMajorVersion && m_calls.windowsMajorVersion() >= kWindows10;
}

CDriverPackageInstaller::Result CDriverPackageInstaller::InstallPrivateCopy(HWND owner)
{
    Result result;
    CPrivateFolder folder;
    std::wstring inf;
    result.dwError = folder.Create(m_calls.privateParent);
    if (result.dwError == ERROR_SUCCESS)
        result.dwError = folder.Write(kPackageName, m_package, inf);
    if (result.dwError != ERROR_SUCCESS)
        return result;
    return InstallPackage(inf, owner);
}

CDriverPackageInstaller::Result CDriverPackageInstaller::InstallPackage(const std::wstring& infPath, HWND owner)
{
    Result result;
    if (!m_calls.updateDriver) {
        result.dwError = ERROR_PROC_NOT_FOUND;
        return result;
    }
    BOOL bReboot = FALSE;
    if (m_calls.updateDriver(owner, kHardwareId, infPath.c_str(), m_options.bForce ? INSTALLFLAG_FORCE : 0,
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
    if (!m_calls.installDriver(owner, infPath.c_str(), m_options.bForce ? DIIRFLAG_FORCE_INF : 0, &bReboot)) {
        result.dwError = LastErrorOr(ERROR_GEN_FAILURE);
        return result;
    }
    result.outcome = Outcome::ReadyForDevice;
    result.bRebootRequired = bReboot != FALSE;
    return result;
}
