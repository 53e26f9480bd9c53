#include "SystemFacts.h"

#include "link/CCellivantaDisplay.h"
#include "pellacore/CComPortList.h"
#include "ToolText.h"
#include "VkdiagTexts.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const DWORD kDevicesSize = 65536;
// Where JAWS names the folder for braille drivers of other makers; the setup
// installs there. vkdiag is 64-bit: it reads the 64-bit view, as the setup does.
const char kThirdPartyBrailleKey[] = "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0";

std::string JawsFolder()
{
    char folder[MAX_PATH] = "";
    DWORD size = sizeof folder - 1, type = 0;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, kThirdPartyBrailleKey, "Target", RRF_RT_REG_SZ,
                     &type, folder, &size) != ERROR_SUCCESS)
        return std::string();
    std::string path(folder);
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.pop_back();
    return path;
}

}  // namespace

std::vector<std::string> SystemFacts::ComPorts()
{
    std::unique_ptr<char[]> devices(new char[kDevicesSize]);
    const DWORD n = QueryDosDeviceA(nullptr, devices.get(), kDevicesSize);
    std::vector<std::string> ports;
    for (const char* name = devices.get(); n && *name; name += strlen(name) + 1)
        if (CComPortList::IsComPortName(name))
            ports.push_back(name);
    return ports;
}

std::vector<std::string> SystemFacts::UsbPorts()
{
    CCellivantaDisplay display;
    std::vector<std::string> ports;
    if (!display.GetUSBVirtualCOMPort(ports))
        ports.clear();
    return ports;
}

std::string SystemFacts::ProgramFolder()
{
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string path(exe, n);
    return path.substr(0, path.find_last_of('\\'));
}

SystemFacts::DriverFolder SystemFacts::FindDriverFolder()
{
    DriverFolder folder{ProgramFolder(), JawsFolder()};
    if (!folder.jawsFolder.empty() &&
        GetFileAttributesA((folder.jawsFolder + "\\VK.JLB").c_str()) != INVALID_FILE_ATTRIBUTES)
        folder.path = folder.jawsFolder;
    return folder;
}

std::string SystemFacts::FileVersion(const std::string& path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (!size)
        return std::string();
    std::vector<BYTE> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) || !fixed)
        return std::string();
    char text[64];
    snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    return text;
}

std::string SystemFacts::FileState(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return std::string();
    FILETIME local;
    SYSTEMTIME t;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &t);
    char changed[32];
    snprintf(changed, sizeof changed, "%04u-%02u-%02u %02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute);
    return tooltext::Text(IDS_DIAG_FILE_STATE, {std::to_string(data.nFileSizeLow), changed});
}
