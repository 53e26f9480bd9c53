#include "SetupFolder.h"

#include "FolderSecurity.h"
#include "HeldFiles.h"

#include <sddl.h>

namespace {

const wchar_t kMadeFolder[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

}  // namespace

std::wstring FullPath(const std::wstring& folder)
{
    wchar_t full[MAX_PATH * 2] = {}, longPath[MAX_PATH * 2] = {};
    DWORD length = GetFullPathNameW(folder.c_str(), MAX_PATH * 2, full, nullptr);
    if (length == 0 || length >= MAX_PATH * 2)
        return folder;
    std::wstring path = full;
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    length = GetLongPathNameW(path.c_str(), longPath, MAX_PATH * 2);
    return length && length < MAX_PATH * 2 ? std::wstring(longPath) : path;
}

namespace {

// Makes what is missing from the drive's root down, the folder itself for
// administrators only from the start; made tells whether the folder is new.
DWORD MakeMissing(const std::wstring& path, bool& made)
{
    made = false;
    std::wstring::size_type separator = path.find(L'\\');
    if (separator == std::wstring::npos)
        return ERROR_BAD_PATHNAME;
    while (separator != std::wstring::npos) {
        separator = path.find(L'\\', separator + 1);
        const std::wstring step = path.substr(0, separator);
        const DWORD attributes = GetFileAttributesW(step.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return ERROR_REPARSE_POINT_ENCOUNTERED;  // nothing is made behind a link
        if (attributes != INVALID_FILE_ATTRIBUTES)
            continue;
        SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
        const bool last = separator == std::wstring::npos;
        if (last && !ConvertStringSecurityDescriptorToSecurityDescriptorW(kMadeFolder, SDDL_REVISION_1,
                                                                          &security.lpSecurityDescriptor, nullptr))
            return GetLastError();
        const BOOL created = CreateDirectoryW(step.c_str(), last ? &security : nullptr);
        const DWORD error = GetLastError();
        LocalFree(security.lpSecurityDescriptor);
        if (!created && error != ERROR_ALREADY_EXISTS)
            return error;
        made = last && created;
    }
    return ERROR_SUCCESS;
}

// Opened as it is, a link not followed, and without delete sharing: while
// it is held, neither it nor a folder above it can be renamed.
HANDLE Hold(const std::wstring& path, DWORD access)
{
    return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL | access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

SetupFolderResult Narrow(HANDLE held, bool made, DWORD& error)
{
    FolderOthers others = FolderOthers::Owner;
    if (!made && (error = CheckFolderOthers(held, others)) != ERROR_SUCCESS)
        return kSetupFolderFailed;
    if (!made && others == FolderOthers::None)
        return kSetupFolderReady;
    // A folder made here is narrowed again: what it was made with is not
    // what a parent's inheritance may have added since.
    if ((error = LetOnlyAdministratorsChange(held)) != ERROR_SUCCESS)
        return kSetupFolderFailed;
    if (made)
        return kSetupFolderMade;
    return others == FolderOthers::Entries ? kSetupFolderNarrowed : kSetupFolderOwned;
}

}  // namespace

SetupFolderResult SecureFolder(const std::wstring& folder, HANDLE& held, DWORD& error)
{
    held = INVALID_HANDLE_VALUE;
    bool made = false;
    error = MakeMissing(FullPath(folder), made);
    if (error == ERROR_REPARSE_POINT_ENCOUNTERED)
        return kSetupFolderLinked;
    if (error != ERROR_SUCCESS)
        return kSetupFolderFailed;
    // Long names only now that every folder on the path is there.
    const std::wstring path = FullPath(folder);
    HANDLE handle = Hold(path, WRITE_DAC | WRITE_OWNER);
    // A folder administrators may not change the access list of (Windows'
    // own) is read only: one that needs narrowing then cannot be narrowed.
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        handle = Hold(path, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return kSetupFolderFailed;
    }
    // Checked through the handle: what is held is the folder at that path.
    error = CheckLeadsTo(path, handle);
    const SetupFolderResult result = error == ERROR_REPARSE_POINT_ENCOUNTERED ? kSetupFolderLinked
                                     : error != ERROR_SUCCESS                 ? kSetupFolderFailed
                                                                              : Narrow(handle, made, error);
    if (result == kSetupFolderFailed || result == kSetupFolderLinked)
        CloseHandle(handle);
    else
        held = handle;
    return result;
}

int RoomFor(const std::wstring& folder, ULONGLONG kilobytes, ULONGLONG& free)
{
    std::wstring existing = FullPath(folder);
    while (GetFileAttributesW((existing + L"\\").c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::wstring::size_type separator = existing.rfind(L'\\');
        if (separator == std::wstring::npos || separator + 1 >= existing.size())
            return -1;
        existing.resize(separator);
    }
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW((existing + L"\\").c_str(), &available, nullptr, nullptr))
        return -1;
    free = available.QuadPart / 1024;
    return free >= kilobytes ? 1 : 0;
}
