#include "PayloadFiles.h"
#include "InstallerPlatform.h"
#include "framework/CApplication.h"

#include <fstream>
#include <stdexcept>
#include <vector>

namespace {

const char kWorkFolderName[] = "CellivantaInstall";
const char kFallbackTempFolder[] = "c:\\windows\\temp\\";
const DWORD kTempPathLength = 260;

// The module path, however long: a cut-off path would yield a wrong folder.
std::string ModulePath()
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

std::string JoinFolder(const std::string& folder, const std::string& name)
{
    std::string path = folder;
    std::string::size_type lastSeparator = path.rfind('\\');
    if (lastSeparator == std::string::npos || lastSeparator + 1 != path.size())
        path += '\\';
    return path + name;
}

std::string GetExeFolder()
{
    std::string path = ModulePath();
    std::string::size_type lastSeparator = path.rfind('\\');
    if (lastSeparator == std::string::npos)
        throw std::runtime_error("Unable to get exe location");
    return path.substr(0, lastSeparator);
}

std::string QueryWorkFolder()
{
    char buffer[270] = {};
    DWORD length = Platform().getTempPath(kTempPathLength, buffer);
    // A longer path is not written at all: treat it as the failure it is.
    if (length == 0 || length > kTempPathLength)
        lstrcpynA(buffer, kFallbackTempFolder, sizeof(buffer));
    return JoinFolder(buffer, kWorkFolderName);
}

std::string ExtractResourceToFile(const std::string& type, WORD id, const std::string& name,
                                  const std::string& folder)
{
    std::string path = folder.empty() ? GetExeFolder() + "\\" + name : JoinFolder(folder, name);
    HMODULE module = CApplication::ResourceHandle();
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type.c_str());
    if (!resource)
        return std::string();
    const void* data = LockResource(LoadResource(module, resource));
    DWORD size = SizeofResource(module, resource);
    // Failures only set the stream's state: an installer still running from an
    // earlier click keeps its file, and is simply started again.
    std::ofstream file(path, std::ios::binary | std::ios::out | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    return path;
}
