// A folder of the installer's own for the driver package it hands the
// platform by path. It runs elevated, and what it hands over must be what it
// wrote: the folder is made new under a random name, writable only by
// administrators and SYSTEM, on a path without links, and held while it
// exists so that nobody can move it away; the package in it is written new
// and held against writing. Both go when the object does.
#pragma once

#include <windows.h>

#include <string>

class CPrivateFolder {
public:
    CPrivateFolder() = default;
    ~CPrivateFolder();
    CPrivateFolder(const CPrivateFolder&) = delete;
    CPrivateFolder& operator=(const CPrivateFolder&) = delete;

    // Makes the folder in parent (empty: the Windows folder's Temp, which
    // only administrators can rename or replace).
    DWORD Create(const std::wstring& parent);
    const std::wstring& Path() const { return m_path; }

    // Writes bytes as name into the folder; path receives the file's path.
    DWORD Write(const std::wstring& name, const std::string& bytes, std::wstring& path);

private:
    std::wstring m_path;
    HANDLE m_hFolder = INVALID_HANDLE_VALUE;
    std::wstring m_file;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};
