#include "CPrivateFolder.h"
#include "HeldFiles.h"

#include <ntsecapi.h>

namespace {

const wchar_t kNamePrefix[] = L"CellivantaUsbDriver-";

DWORD DefaultParent(std::wstring& parent)
{
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return length ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
    parent = std::wstring(windows, length) + L"\\Temp";
    return ERROR_SUCCESS;
}

}  // namespace

CPrivateFolder::~CPrivateFolder()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hFile);
    if (!m_file.empty())  // held or not, what was written goes with the folder
        DeleteFileW(m_file.c_str());
    if (m_hFolder != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFolder);
        RemoveDirectoryW(m_path.c_str());
    }
}

DWORD CPrivateFolder::Create(const std::wstring& parent)
{
    std::wstring folder = parent;
    DWORD error = folder.empty() ? DefaultParent(folder) : ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    std::wstring path;
    HANDLE held = INVALID_HANDLE_VALUE;
    error = CreateHeldFolderIn(folder, kNamePrefix, RtlGenRandom, FolderAccess::AdministratorsOnly, path, held);
    if (error != ERROR_SUCCESS)
        return error;
    m_path = path;
    m_hFolder = held;
    return ERROR_SUCCESS;
}

DWORD CPrivateFolder::Write(const std::wstring& name, const std::string& bytes, std::wstring& path)
{
    if (m_hFolder == INVALID_HANDLE_VALUE || !m_file.empty())
        return ERROR_INVALID_FUNCTION;
    m_file = m_path + L"\\" + name;
    HeldFileStep failedAt;
    const DWORD error = WriteHeldFile(m_file, bytes.data(), static_cast<DWORD>(bytes.size()), m_hFile, failedAt);
    if (error != ERROR_SUCCESS)
        return error;
    path = m_file;
    return ERROR_SUCCESS;
}
