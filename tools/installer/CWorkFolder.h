// The tool's working folder: made new, under a random name, in the user's
// temporary folder, so that a folder another program prepared in advance (a
// link elsewhere, or one holding its own files) is never used. While the
// tool runs, the folder is held so that it cannot be moved or replaced, and
// every payload written into it is held against writing and deleting.
#pragma once

#include <windows.h>

#include <map>
#include <string>

class CWorkFolder {
public:
    static const wchar_t kNamePrefix[];  // followed by 16 random hexadecimal digits

    CWorkFolder() = default;
    ~CWorkFolder();
    CWorkFolder(const CWorkFolder&) = delete;
    CWorkFolder& operator=(const CWorkFolder&) = delete;

    // Makes the folder: ERROR_SUCCESS, or why it could not be had.
    DWORD Create();
    bool IsCreated() const { return !m_path.empty(); }
    // The folder's full path, without a trailing backslash; empty until made.
    const std::wstring& Path() const { return m_path; }

    // Writes the stored payload id as name into the folder, or finds it written
    // and held already by an earlier call; path receives its full path.
    DWORD Extract(WORD id, const std::wstring& name, std::wstring& path);

    // Lets go of the files and of the folder, so that they can be deleted.
    void Release();

private:
    std::wstring m_path;
    HANDLE m_hFolder = INVALID_HANDLE_VALUE;
    std::map<std::wstring, HANDLE> m_held;
};
