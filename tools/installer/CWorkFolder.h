// The tool's working folder: made new at the first click, under a random
// name, in the user's temporary folder, so that a folder another program
// prepared in advance (a link elsewhere, or one holding its own files) is
// never used. Run as administrator, only administrators and SYSTEM may use
// it. While the tool runs, the folder is held so that it cannot be moved or
// replaced, and every payload written into it is held against writing and
// deleting; just before a payload is started, the path to it is checked
// again through those handles.
#pragma once

#include "HeldFiles.h"

#include <windows.h>

#include <map>
#include <set>
#include <string>

class CWorkFolder {
public:
    static const wchar_t kNamePrefix[];  // followed by 16 random hexadecimal digits

    CWorkFolder() = default;
    ~CWorkFolder();
    CWorkFolder(const CWorkFolder&) = delete;
    CWorkFolder& operator=(const CWorkFolder&) = delete;

    // Makes the folder: ERROR_SUCCESS, or why it could not be had
    // (ERROR_REPARSE_POINT_ENCOUNTERED: the temporary folder is reached
    // through a link).
    DWORD Create();
    bool IsCreated() const { return !m_path.empty(); }
    // The folder's full path, without a trailing backslash; empty until made.
    const std::wstring& Path() const { return m_path; }

    // Writes the stored payload id as name into the folder, or finds it written
    // and held already by an earlier call; path receives its full path. On
    // failure failedAt says the step (WriteHeldFile); ERROR_REPARSE_POINT_ENCOUNTERED
    // when the folder's path now leads elsewhere.
    DWORD Extract(WORD id, const std::wstring& name, std::wstring& path, HeldFileStep& failedAt);

    // Just before the payload held as name is started: ERROR_SUCCESS when the
    // folder's path and the payload's still lead to what is held, with no link
    // on the way (ERROR_REPARSE_POINT_ENCOUNTERED otherwise).
    DWORD CheckBeforeStart(const std::wstring& name) const;

    // Deletes the files written but never held (another program, such as an
    // antivirus, had them open), once that program has let go of them.
    void DeleteUnheld();

    // At the end: deletes every payload it wrote and the folder, each through
    // a handle checked to be the very file or folder made here, so that a
    // link or a file put in its place meanwhile is never deleted, nor what it
    // leads to. The folder goes only when empty: a payload still running stays.
    void DeleteWritten();

    // Lets go of the files and of the folder.
    void Release();

private:
    struct FileId {
        DWORD volume = 0, high = 0, low = 0;
        bool operator==(const FileId& other) const
        {
            return volume == other.volume && high == other.high && low == other.low;
        }
    };
    static bool IdOf(HANDLE handle, FileId& id);
    static bool DeleteIfSame(const std::wstring& path, const FileId& id, bool folder);

    std::wstring m_path;
    HANDLE m_hFolder = INVALID_HANDLE_VALUE;
    FileId m_folderId;
    std::map<std::wstring, HANDLE> m_held;
    std::map<std::wstring, FileId> m_heldIds;
    std::set<std::wstring> m_unheld;  // full paths
};
