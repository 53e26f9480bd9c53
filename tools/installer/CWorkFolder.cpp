#include "CWorkFolder.h"
#include "InstallerPlatform.h"
#include "PayloadFiles.h"
#include "SystemLibrary.h"

#include <vector>

const wchar_t CWorkFolder::kNamePrefix[] = L"CellivantaInstall-";

namespace {

const DWORD kTempPathLength = MAX_PATH + 1;

// The user's temporary folder with its long names: the form in which the
// platform reports where a handle leads, to compare with.
DWORD TempFolder(std::wstring& folder)
{
    std::vector<wchar_t> buffer(kTempPathLength + 1);
    DWORD length = Platform().getTempPath(kTempPathLength, buffer.data());
    // No shared fallback such as the Windows folder's Temp: every user can write there.
    if (length == 0)
        return GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
    if (length > kTempPathLength)
        return ERROR_FILENAME_EXCED_RANGE;
    const std::wstring temp(buffer.data(), length);
    length = GetLongPathNameW(temp.c_str(), nullptr, 0);
    buffer.resize(length + 1);
    if (length == 0 || (length = GetLongPathNameW(temp.c_str(), buffer.data(), length + 1)) == 0)
        return GetLastError() ? GetLastError() : ERROR_PATH_NOT_FOUND;
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
    // Run as administrator, the tool starts what lies here with those rights:
    // nobody else may put anything into the folder or change it.
    const FolderAccess access = IsElevated() ? FolderAccess::AdministratorsOnly : FolderAccess::Inherited;
    std::wstring temp, path;
    DWORD error = TempFolder(temp);
    if (error == ERROR_SUCCESS)
        error = CreateHeldFolderIn(temp, kNamePrefix, Platform().genRandom, access, path, m_hFolder);
    if (error == ERROR_SUCCESS && !IdOf(m_hFolder, m_folderId))
        error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
    if (error == ERROR_SUCCESS)
        m_path = path;
    return error;
}

DWORD CWorkFolder::Extract(WORD id, const std::wstring& name, std::wstring& path, HeldFileStep& failedAt)
{
    failedAt = HeldFileStep::Write;
    if (!IsCreated())
        return ERROR_PATH_NOT_FOUND;
    const std::wstring file = JoinFolder(m_path, name);
    if (m_held.count(name)) {  // held since it was written: still the payload
        path = file;
        return ERROR_SUCCESS;
    }
    DeleteUnheld();  // a file left by an earlier click would take the name
    DWORD error = CheckLeadsTo(m_path, m_hFolder);
    HANDLE lock = INVALID_HANDLE_VALUE;
    if (error == ERROR_SUCCESS)
        error = ExtractResourceToFile(id, file, lock, failedAt);
    if (error != ERROR_SUCCESS) {
        if (failedAt == HeldFileStep::Hold && GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            m_unheld.insert(file);  // another program holds it against deleting
        return error;
    }
    if (!IdOf(lock, m_heldIds[name])) {
        error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
        CloseHandle(lock);
        m_heldIds.erase(name);
        m_unheld.insert(file);
        return error;
    }
    m_held[name] = lock;
    path = file;
    return ERROR_SUCCESS;
}

DWORD CWorkFolder::CheckBeforeStart(const std::wstring& name) const
{
    const auto held = m_held.find(name);
    if (held == m_held.end())
        return ERROR_FILE_NOT_FOUND;
    const DWORD error = CheckLeadsTo(m_path, m_hFolder);
    return error != ERROR_SUCCESS ? error : CheckLeadsTo(JoinFolder(m_path, name), held->second);
}

void CWorkFolder::DeleteUnheld()
{
    for (auto file = m_unheld.begin(); file != m_unheld.end();) {
        if (Platform().deleteFile(file->c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
            file = m_unheld.erase(file);
        else
            ++file;
    }
}

bool CWorkFolder::IdOf(HANDLE handle, FileId& id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    id.volume = info.dwVolumeSerialNumber;
    id.high = info.nFileIndexHigh;
    id.low = info.nFileIndexLow;
    return true;
}

// Opens path for deleting, a link at its end as the link itself, and deletes
// through that handle only what has the ID of what was made here.
bool CWorkFolder::DeleteIfSame(const std::wstring& path, const FileId& id, bool folder)
{
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0);
    HANDLE handle = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    FileId found;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    const bool deleted = IdOf(handle, found) && found == id &&
                         Platform().setFileInformation(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(handle);
    return deleted;
}

void CWorkFolder::DeleteWritten()
{
    // Each held file is let go of just before its own deleting handle opens:
    // the ID tells whether the path still leads to it.
    for (auto& held : m_held) {
        CloseHandle(held.second);
        DeleteIfSame(JoinFolder(m_path, held.first), m_heldIds[held.first], false);
    }
    m_held.clear();
    m_heldIds.clear();
    DeleteUnheld();
    if (m_hFolder == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(m_hFolder);
    m_hFolder = INVALID_HANDLE_VALUE;
    DeleteIfSame(m_path, m_folderId, true);
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
