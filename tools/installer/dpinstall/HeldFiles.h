// Folders and files that a program makes new and then holds open, so that
// what it later starts, or hands to the platform by path, is what it wrote
// itself: for the tool, which starts its payloads from the user's temporary
// folder, and for the driver package installer, which runs elevated.
#pragma once

#include <windows.h>

#include <string>

// Makes the folder at path (failing on anything already there, a link
// included) with the given security (null: inherited), and holds it without
// delete sharing, so that nobody can rename it and put another in its place.
// held receives the handle.
DWORD CreateHeldFolder(const std::wstring& path, SECURITY_ATTRIBUTES* security, HANDLE& held);

using RandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);

// Makes a held folder in parent named prefix and 16 random hexadecimal
// digits from random, drawing a new name when one is taken (a few times: more
// in a row is no accident). path receives the folder's path.
DWORD CreateHeldFolderIn(const std::wstring& parent, const wchar_t* prefix, RandomFn random,
                         SECURITY_ATTRIBUTES* security, std::wstring& path, HANDLE& held);

// Writes data into a new file at path (CREATE_NEW: a file already there,
// planted or left over, is never used), checking every write, then opens it
// again for reading only, denying others writing and deleting, and checks
// that it holds what was written (another program could have put its own
// file there in between: ERROR_INVALID_DATA). held receives that handle. A
// failure leaves no file of its own behind.
DWORD WriteHeldFile(const std::wstring& path, const char* data, DWORD size, HANDLE& held);

// ERROR_SUCCESS when every folder on the full path exists and none is a link
// (junction, symbolic link, mount point) that could lead elsewhere.
DWORD CheckNoLinkOnPath(const std::wstring& path);
