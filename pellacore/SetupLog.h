// The setup's log: a new file that no program of the user can choose, replace
// or have the elevated setup write through. A log the caller names is made
// new on a path without links; otherwise the setup makes a new folder of its
// own for it (for administrators only when elevated) and holds that folder
// until it ends. Either way the file is checked through its handle.
#pragma once

#include <windows.h>

#include <string>

// What OpenLog found (its answer to the setup).
enum SetupLogResult {
    kSetupLogFailed = 0,    // the file could not be made: the error says why
    kSetupLogOpen = 1,      // made new, the log handle writes it
    kSetupLogLinked = 2,    // the path, or a folder on it, is a link, or it ends elsewhere
    kSetupLogNoFolder = 3,  // no new folder of its own could be made for it
    kSetupLogExists = 4,    // a file of that name is there already
};

// Opens the log named, or, when folderIn is not empty, one in a new folder
// made there. path receives the log's path (or the folder's, when none could
// be made), log the handle, error the platform's error for kSetupLogFailed.
SetupLogResult OpenLog(const std::wstring& named, const std::wstring& folderIn, std::wstring& path, HANDLE& log,
                       DWORD& error);

// Writes the line and a line end into the log, in UTF-8.
bool WriteLogLine(HANDLE log, const std::wstring& line);
