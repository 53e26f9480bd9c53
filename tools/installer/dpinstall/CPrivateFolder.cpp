#include "CPrivateFolder.h"
#include "HeldFiles.h"

#include <ntsecapi.h>
#include <sddl.h>

namespace {

// Full control for SYSTEM and administrators, nothing for anyone else, and
// nothing inherited from the parent.
const wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
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
    if (m_hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFile);
        DeleteFileW(m_file.c_str());
    }
    if (m_hFolder != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFolder);
        RemoveDirectoryW(m_path.c_str());
    }
}

DWORD CPrivateFolder::Create(const std::wstring& parent)
{
    std::wstring folder = parent;
    DWORD error = folder.empty() ? DefaultParent(folder) : ERROR_SUCCESS;
    if (error == ERROR_SUCCESS)
        error = CheckNoLinkOnPath(folder);
    if (error != ERROR_SUCCESS)
        return error;
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1,
                                                              &security.lpSecurityDescriptor, nullptr))
        return GetLastError();
    std::wstring path;
    HANDLE held = INVALID_HANDLE_VALUE;
    error = CreateHeldFolderIn(folder, kNamePrefix, RtlGenRandom, &security, path, held);
    LocalFree(security.lpSecurityDescriptor);
    if (error != ERROR_SUCCESS)
        return error;
    m_path = path;
    m_hFolder = held;
    return ERROR_SUCCESS;
}

DWORD CPrivateFolder::Write(const std::wstring& name, const std::string& bytes, std::wstring& path)
{
    if (m_hFolder == INVALID_HANDLE_VALUE || m_hFile != INVALID_HANDLE_VALUE)
        return ERROR_INVALID_FUNCTION;
    const std::wstring file = m_path + L"\\" + name;
    const DWORD error = WriteHeldFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), m_hFile);
    if (error != ERROR_SUCCESS)
        return error;
    m_file = path = file;
    return ERROR_SUCCESS;
}
