// Folders and files that a program makes new and then holds open, so that
// what it later starts, or hands to the platform by path, is what it wrote
// itself: for the tool, which starts its payloads from the user's temporary
// folder, and for the driver package installer, which runs elevated.
#pragma once

#include <windows.h>

#include <string>

#ifndef ERROR_REPARSE_POINT_ENCOUNTERED
#define ERROR_REPARSE_POINT_ENCOUNTERED 4395L
#endif

// Who may use a folder made here.
enum class FolderAccess {
    Inherited,           // whoever its parent lets in
    AdministratorsOnly,  // SYSTEM and administrators only, nothing inherited
};

// Makes the folder at path (failing on anything already there, a link
// included) with the given access, and holds it without delete sharing, so
// that nobody can rename it and put another in its place. held receives the
// handle. A folder for administrators only is checked through that handle:
// one that another program put in its place before it was held (its own, or
// one reached through a link) gives ERROR_ACCESS_DENIED or
// ERROR_REPARSE_POINT_ENCOUNTERED.
DWORD CreateHeldFolder(const std::wstring& path, FolderAccess access, HANDLE& held);

using RandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);

// Makes a held folder in parent named prefix and 16 random hexadecimal
// digits from random, drawing a new name when one is taken (a few times: more
// in a row is no accident). parent must be reached without a link
// (ERROR_REPARSE_POINT_ENCOUNTERED). path receives the folder's path.
DWORD CreateHeldFolderIn(const std::wstring& parent, const wchar_t* prefix, RandomFn random, FolderAccess access,
                         std::wstring& path, HANDLE& held);

// The step of WriteHeldFile that failed.
enum class HeldFileStep {
    Write,  // the file could not be made or written
    Hold,   // written, but it could not be opened again, or read, to check it
};

// Writes data into a new file at path (CREATE_NEW: a file already there,
// planted or left over, is never used), checking every write, then opens it
// again for reading only, denying others writing and deleting, and checks
// that it holds what was written. held receives that handle. ERROR_INVALID_DATA
// only when the file read back differs (another program changed it in
// between); a failed read is the platform's error. On failure failedAt says
// the step, and the file is deleted; it stays only when another program
// holds it against deleting.
DWORD WriteHeldFile(const std::wstring& path, const char* data, DWORD size, HANDLE& held, HeldFileStep& failedAt);

// ERROR_SUCCESS when every folder on the full path exists and none is a link
// (junction, symbolic link, mount point) that could lead elsewhere.
DWORD CheckNoLinkOnPath(const std::wstring& path);

// ERROR_SUCCESS when the full path still leads to what held holds: nothing on
// the path is a link, and the path is the held file's or folder's final path.
// ERROR_REPARSE_POINT_ENCOUNTERED when it leads elsewhere.
DWORD CheckLeadsTo(const std::wstring& path, HANDLE held);

// The calls with which WriteHeldFile opens a written file again and reads it
// back, and CreateHeldFolder opens the folder it made. Tests replace them to
// play another program at work on the file or folder (an antivirus holding
// it, a failing disk, a folder swapped in); programs never change them.
struct HeldFileCalls {
    decltype(&::CreateFileW) createFile = ::CreateFileW;
    decltype(&::ReadFile) readFile = ::ReadFile;
};
HeldFileCalls& HeldFilePlatform();
