#include "SetupLog.h"

#include "HeldFiles.h"
#include "SetupFolder.h"
#include "SystemLibrary.h"

#include <ntsecapi.h>

namespace {

const wchar_t kFolderPrefix[] = L"Cellivanta VK setup ";
const wchar_t kLogName[] = L"Cellivanta VK setup.log";

// A new folder in folderIn, held until the setup ends so that nobody can
// rename it and put another in its place; the administrators' alone when
// elevated, where the temporary folder is the user's.
SetupLogResult MakeLogFolder(const std::wstring& folderIn, std::wstring& path)
{
    const FolderAccess access = IsElevated() ? FolderAccess::AdministratorsOnly : FolderAccess::Inherited;
    HANDLE held = INVALID_HANDLE_VALUE;
    const std::wstring parent = FullPath(folderIn);
    path = parent;
    if (CheckNoLinkOnPath(parent) == ERROR_REPARSE_POINT_ENCOUNTERED)
        return kSetupLogLinked;
    if (CreateHeldFolderIn(parent, kFolderPrefix, RtlGenRandom, access, path, held) != ERROR_SUCCESS)
        return kSetupLogNoFolder;
    path += L"\\";
    path += kLogName;
    return kSetupLogOpen;
}

// A file already there is never used; one reached through a link (which may
// not show as one) ends elsewhere.
SetupLogResult ExistingLog(const std::wstring& path)
{
    HANDLE there = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (there == INVALID_HANDLE_VALUE)
        return kSetupLogExists;
    const DWORD leads = CheckLeadsTo(FullPath(path), there);
    CloseHandle(there);
    return leads == ERROR_REPARSE_POINT_ENCOUNTERED ? kSetupLogLinked : kSetupLogExists;
}

SetupLogResult CreateLog(const std::wstring& path, HANDLE& log, DWORD& error)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_FILE_EXISTS ? ExistingLog(path) : kSetupLogFailed;
    }
    // Its long path now that it is there, as the platform names the handle's.
    error = CheckLeadsTo(FullPath(path), file);
    if (error != ERROR_SUCCESS) {
        // The file is new and ours: it goes through its handle, not its path.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
        CloseHandle(file);
        return error == ERROR_REPARSE_POINT_ENCOUNTERED ? kSetupLogLinked : kSetupLogFailed;
    }
    // The byte order mark, so that any reader takes the text as UTF-8.
    DWORD written = 0;
    WriteFile(file, "\xEF\xBB\xBF", 3, &written, nullptr);
    log = file;
    return kSetupLogOpen;
}

}  // namespace

SetupLogResult OpenLog(const std::wstring& named, const std::wstring& folderIn, std::wstring& path, HANDLE& log,
                       DWORD& error)
{
    log = INVALID_HANDLE_VALUE;
    error = ERROR_SUCCESS;
    if (!folderIn.empty()) {
        const SetupLogResult folder = MakeLogFolder(folderIn, path);
        if (folder != kSetupLogOpen)
            return folder;
    } else {
        path = FullPath(named);
        // The folders it goes into, from the drive's root: no link among them.
        const std::wstring::size_type separator = path.rfind(L'\\');
        if (separator != std::wstring::npos &&
            CheckNoLinkOnPath(path.substr(0, separator + 1)) == ERROR_REPARSE_POINT_ENCOUNTERED)
            return kSetupLogLinked;
    }
    return CreateLog(path, log, error);
}

bool WriteLogLine(HANDLE log, const std::wstring& line)
{
    const std::wstring text = line + L"\r\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    return size > 0 && WriteFile(log, bytes.data(), size, &written, nullptr) && written == static_cast<DWORD>(size);
}
