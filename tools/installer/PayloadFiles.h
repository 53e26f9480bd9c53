// How the tool writes its stored payloads: each into a new file of its own,
// held afterwards so that the file started is the file written.
#pragma once

#include "HeldFiles.h"

#include <windows.h>

#include <string>

// Folder + name with exactly the backslash between them that the folder lacks:
// one is added unless the folder already ends in one. Nothing is removed.
std::wstring JoinFolder(const std::wstring& folder, const std::wstring& name);

// Writes the stored payload (resource type "BIN", id) into a new file at path
// (CREATE_NEW: a file already there, planted or left over, is never used) and
// checks every write. On success lock holds the file open for reading only,
// denying others writing and deleting, and the bytes it holds were checked
// to be the payload's. Otherwise returns the reason, with failedAt the step
// (WriteHeldFile), and leaves no file of its own behind unless another
// program holds it: ERROR_RESOURCE_NAME_NOT_FOUND for a missing payload,
// ERROR_INVALID_DATA when another program changed the file before it was
// held, or the platform's error.
DWORD ExtractResourceToFile(WORD id, const std::wstring& path, HANDLE& lock, HeldFileStep& failedAt);
