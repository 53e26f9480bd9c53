// DLL loading for programs that run elevated or from a folder that other
// programs of the user can write to (the tool and its driver package
// installer, both started from the temporary folder): nothing may be loaded
// from the program's own folder or the current folder, where a planted DLL
// would run with the program's rights.
#pragma once

#include <windows.h>

// Restricts the search of every later DLL load to the system folder. Call it
// first thing in the program's entry point. False on a Windows 7 without the
// loader update: then only the current folder leaves the search, and the
// program's own folder is still searched first, so a program running as
// administrator must refuse to go on.
bool RestrictDllSearchToSystemFolder();

// Whether this process runs with administrator rights (elevated).
bool IsElevated();

// Whether this process runs as the local SYSTEM account.
bool IsLocalSystem();

// Says a text of the program's string table in a message box, having first
// loaded from the system folder the DLLs that showing it may pull in: for
// the refusal above, when the search is not safe.
void ShowRefusal(UINT textId);

// Loads a system DLL by name from the system folder only (null when it is not
// there).
HMODULE LoadSystemLibrary(const char* name);
