#include "HeldFiles.h"
#include "FolderSecurity.h"

#include <sddl.h>

#include <vector>

namespace {

const int kNameAttempts = 8;

// Full control for SYSTEM and administrators, nothing for anyone else, and
// nothing inherited from the parent.
const wchar_t kAdministratorsOnly[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = GetLastError();
    return error ? error : fallback;
}

DWORD RandomName(const wchar_t* prefix, RandomFn random, std::wstring& name)
{
    unsigned char bytes[8];
    if (!random(bytes, sizeof(bytes)))
        return ERROR_GEN_FAILURE;
    const wchar_t digits[] = L"0123456789ABCDEF";
    name = prefix;
    for (unsigned char byte : bytes) {
        name += digits[byte >> 4];
        name += digits[byte & 0xF];
    }
    return ERROR_SUCCESS;
}

DWORD WriteAll(HANDLE file, const char* data, DWORD size)
{
    DWORD offset = 0;
    while (offset < size) {
        DWORD written = 0;
        if (!WriteFile(file, data + offset, size - offset, &written, nullptr))
            return GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        offset += written;
    }
    return FlushFileBuffers(file) ? ERROR_SUCCESS : GetLastError();
}

DWORD WriteNewFile(const std::wstring& path, const char* data, DWORD size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    const DWORD error = WriteAll(file, data, size);
    if (error != ERROR_SUCCESS) {  // a half-written file must not stay
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
    }
    CloseHandle(file);
    return error;
}

bool IsLink(const BY_HANDLE_FILE_INFORMATION& info)
{
    return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// ERROR_INVALID_DATA only for a file that differs from data; a read that
// fails is not a difference.
DWORD CheckContent(HANDLE file, const char* data, DWORD size)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info))
        return LastErrorOr(ERROR_READ_FAULT);
    if (IsLink(info) || info.nFileSizeHigh != 0 || info.nFileSizeLow != size)
        return ERROR_INVALID_DATA;
    std::string content(size, '\0');
    for (DWORD offset = 0; offset < size;) {
        DWORD read = 0;
        if (!HeldFilePlatform().readFile(file, &content[offset], size - offset, &read, nullptr))
            return LastErrorOr(ERROR_READ_FAULT);
        if (read == 0)
            return ERROR_HANDLE_EOF;
        offset += read;
    }
    return content.compare(0, size, data, size) == 0 ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// Opens the written file again, denying writes, and checks it.
DWORD HoldWrittenFile(const std::wstring& path, const char* data, DWORD size, HANDLE& held)
{
    HANDLE file = HeldFilePlatform().createFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastErrorOr(ERROR_OPEN_FAILED);
    const DWORD error = CheckContent(file, data, size);
    if (error != ERROR_SUCCESS) {
        CloseHandle(file);
        return error;
    }
    held = file;
    return ERROR_SUCCESS;
}

DWORD CheckFolder(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? ERROR_REPARSE_POINT_ENCOUNTERED : ERROR_SUCCESS;
}

// The path the platform resolves the handle to, links followed, in the form
// "C:\..." or "\\server\share\..."; empty when it cannot tell.
std::wstring FinalPath(HANDLE held)
{
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = GetFinalPathNameByHandleW(held, buffer.data(), static_cast<DWORD>(buffer.size()), flags);
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetFinalPathNameByHandleW(held, buffer.data(), static_cast<DWORD>(buffer.size()), flags);
    }
    if (length == 0 || length >= buffer.size())
        return std::wstring();
    const std::wstring path(buffer.data(), length);
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\" + path.substr(7);
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

// The folder opened again by its path is the one made: a folder, no link,
// and, where only administrators may change it, one that another program
// swapped in between (its own, or a link to one) is noticed through the
// handle that now holds it.
DWORD CheckHeldFolder(const std::wstring& path, FolderAccess access, HANDLE folder)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(folder, &info) || IsLink(info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_REPARSE_POINT_ENCOUNTERED;
    if (access != FolderAccess::AdministratorsOnly)
        return ERROR_SUCCESS;
    FolderOthers others = FolderOthers::None;
    DWORD error = CheckFolderOthers(folder, others);
    if (error == ERROR_SUCCESS && others != FolderOthers::None)
        error = ERROR_ACCESS_DENIED;
    return error == ERROR_SUCCESS ? CheckLeadsTo(path, folder) : error;
}

}  // namespace

HeldFileCalls& HeldFilePlatform()
{
    static HeldFileCalls calls;
    return calls;
}

DWORD CreateHeldFolder(const std::wstring& path, FolderAccess access, HANDLE& held)
{
    held = INVALID_HANDLE_VALUE;
    SECURITY_ATTRIBUTES security = {sizeof(security), nullptr, FALSE};
    if (access == FolderAccess::AdministratorsOnly &&
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1,
                                                              &security.lpSecurityDescriptor, nullptr))
        return GetLastError();
    const BOOL created = CreateDirectoryW(path.c_str(), security.lpSecurityDescriptor ? &security : nullptr);
    const DWORD createError = GetLastError();
    LocalFree(security.lpSecurityDescriptor);
    if (!created)
        return createError;
    HANDLE folder = HeldFilePlatform().createFile(path.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return GetLastError();
    const DWORD error = CheckHeldFolder(path, access, folder);
    if (error != ERROR_SUCCESS) {
        CloseHandle(folder);
        RemoveDirectoryW(path.c_str());  // only an empty folder, or a link itself
        return error;
    }
    held = folder;
    return ERROR_SUCCESS;
}

DWORD CreateHeldFolderIn(const std::wstring& parent, const wchar_t* prefix, RandomFn random, FolderAccess access,
                         std::wstring& path, HANDLE& held)
{
    DWORD error = CheckNoLinkOnPath(parent);
    if (error != ERROR_SUCCESS)
        return error;
    const wchar_t* separator = !parent.empty() && parent.back() == L'\\' ? L"" : L"\\";
    error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; error == ERROR_ALREADY_EXISTS && attempt < kNameAttempts; ++attempt) {
        std::wstring name;
        error = RandomName(prefix, random, name);
        path = parent + separator + name;
        if (error == ERROR_SUCCESS)
            error = CreateHeldFolder(path, access, held);
    }
    return error;
}

DWORD WriteHeldFile(const std::wstring& path, const char* data, DWORD size, HANDLE& held, HeldFileStep& failedAt)
{
    held = INVALID_HANDLE_VALUE;
    failedAt = HeldFileStep::Write;
    DWORD error = WriteNewFile(path, data, size);
    if (error != ERROR_SUCCESS)
        return error;
    // Nothing can be started, or installed, while a handle may write to it:
    // the file is opened again, denying writes, and checked.
    failedAt = HeldFileStep::Hold;
    error = HoldWrittenFile(path, data, size, held);
    if (error != ERROR_SUCCESS)  // not held, so not ours to start: it goes, unless another program holds it
        DeleteFileW(path.c_str());
    return error;
}

DWORD CheckNoLinkOnPath(const std::wstring& path)
{
    // Each folder from the drive's root down: "C:\", "C:\Windows", "C:\Windows\Temp".
    std::wstring::size_type separator = path.find(L'\\');
    if (separator == std::wstring::npos)
        return ERROR_BAD_PATHNAME;
    DWORD error = CheckFolder(path.substr(0, separator + 1));
    while (error == ERROR_SUCCESS && separator != std::wstring::npos && separator + 1 < path.size()) {
        separator = path.find(L'\\', separator + 1);
        error = CheckFolder(path.substr(0, separator));
    }
    return error;
}

DWORD CheckLeadsTo(const std::wstring& path, HANDLE held)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(held, &info))
        return LastErrorOr(ERROR_INVALID_HANDLE);
    DWORD error = IsLink(info) ? ERROR_REPARSE_POINT_ENCOUNTERED : CheckNoLinkOnPath(path);
    if (error != ERROR_SUCCESS)
        return error;
    const std::wstring final = FinalPath(held);
    if (final.empty())
        return LastErrorOr(ERROR_PATH_NOT_FOUND);
    return CompareStringOrdinal(final.c_str(), -1, path.c_str(), -1, TRUE) == CSTR_EQUAL
               ? ERROR_SUCCESS
               : ERROR_REPARSE_POINT_ENCOUNTERED;
}
