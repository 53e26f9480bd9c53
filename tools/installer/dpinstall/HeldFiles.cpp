#include "HeldFiles.h"

#ifndef ERROR_REPARSE_POINT_ENCOUNTERED
#define ERROR_REPARSE_POINT_ENCOUNTERED 4395L
#endif

namespace {

const int kNameAttempts = 8;

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

bool Holds(HANDLE file, const char* data, DWORD size)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file, &info) || IsLink(info) || info.nFileSizeHigh != 0 ||
        info.nFileSizeLow != size)
        return false;
    std::string content(size, '\0');
    DWORD read = 0;
    if (size && !ReadFile(file, &content[0], size, &read, nullptr))
        return false;
    return read == size && content.compare(0, size, data, size) == 0;
}

DWORD CheckFolder(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    return attributes & FILE_ATTRIBUTE_REPARSE_POINT ? ERROR_REPARSE_POINT_ENCOUNTERED : ERROR_SUCCESS;
}

}  // namespace

DWORD CreateHeldFolder(const std::wstring& path, SECURITY_ATTRIBUTES* security, HANDLE& held)
{
    held = INVALID_HANDLE_VALUE;
    if (!CreateDirectoryW(path.c_str(), security))
        return GetLastError();
    HANDLE folder = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(folder, &info) || IsLink(info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(folder);
        return ERROR_REPARSE_POINT_ENCOUNTERED;
    }
    held = folder;
    return ERROR_SUCCESS;
}

DWORD CreateHeldFolderIn(const std::wstring& parent, const wchar_t* prefix, RandomFn random,
                         SECURITY_ATTRIBUTES* security, std::wstring& path, HANDLE& held)
{
    const wchar_t* separator = !parent.empty() && parent.back() == L'\\' ? L"" : L"\\";
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int attempt = 0; error == ERROR_ALREADY_EXISTS && attempt < kNameAttempts; ++attempt) {
        std::wstring name;
        error = RandomName(prefix, random, name);
        path = parent + separator + name;
        if (error == ERROR_SUCCESS)
            error = CreateHeldFolder(path, security, held);
    }
    return error;
}

DWORD WriteHeldFile(const std::wstring& path, const char* data, DWORD size, HANDLE& held)
{
    held = INVALID_HANDLE_VALUE;
    DWORD error = WriteNewFile(path, data, size);
    if (error != ERROR_SUCCESS)
        return error;
    // Nothing can be started, or installed, while a handle may write to it:
    // the file is opened again, denying writes, and checked.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (!Holds(file, data, size)) {
        CloseHandle(file);
        return ERROR_INVALID_DATA;
    }
    held = file;
    return ERROR_SUCCESS;
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
