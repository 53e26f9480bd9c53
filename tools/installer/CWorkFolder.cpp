#include "CWorkFolder.h"
#include "HeldFiles.h"
#include "InstallerPlatform.h"
#include "PayloadFiles.h"

#include <vector>

const wchar_t CWorkFolder::kNamePrefix[] = L"CellivantaInstall-";

namespace {

const DWORD kTempPathLength = MAX_PATH + 1;

DWORD TempFolder(std::wstring& folder)
{
    std::vector<wchar_t> buffer(kTempPathLength + 1);
    DWORD length = Platform().getTempPath(kTempPathLength, buffer.data());
    // No shared fallback such as the Windows folder's Temp: every user can write there.
    if (length == 0)
        return GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
    if (length > kTempPathLength)
        return ERROR_FILENAME_EXCED_RANGE;
    folder.assign(buffer.data(), length);
    return ERROR_SUCCESS;
}

}  // namespace

CWorkFolder::~CWorkFolder()
{
    Release();
}

DWORD CWorkFolder::Create()
{
    std::wstring temp, path;
    DWORD error = TempFolder(temp);
    if (error == ERROR_SUCCESS)
        error = CreateHeldFolderIn(temp, kNamePrefix, Platform().genRandom, nullptr, path, m_hFolder);
    if (error == ERROR_SUCCESS)
        m_path = path;
    return error;
}

DWORD CWorkFolder::Extract(WORD id, const std::wstring& name, std::wstring& path)
{
    if (!IsCreated())
        return ERROR_PATH_NOT_FOUND;
    const std::wstring file = JoinFolder(m_path, name);
    if (m_held.count(name)) {  // held since it was written: still the payload
        path = file;
        return ERROR_SUCCESS;
    }
    HANDLE lock = INVALID_HANDLE_VALUE;
    const DWORD error = ExtractResourceToFile(id, file, lock);
    if (error != ERROR_SUCCESS)
        return error;
    m_held[name] = lock;
    path = file;
    return ERROR_SUCCESS;
}

void CWorkFolder::Release()
{
    for (auto& held : m_held)
        CloseHandle(held.second);
    m_held.clear();
    if (m_hFolder != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFolder);
    m_hFolder = INVALID_HANDLE_VALUE;
}
