// DLL loading for programs that run elevated or from a folder that other
// programs of the user can write to (the tool and its driver package
// installer, both started from the temporary folder): nothing may be loaded
// from the program's own folder or the current folder, where a planted DLL
// would run with the program's rights.
#pragma once

#include <windows.h>

// Restricts the search of every later DLL load to the system folder. Call it
// first thing in the program's entry point.
void RestrictDllSearchToSystemFolder();

// Loads a system DLL by name from the system folder only (null when it is not
// there).
HMODULE LoadSystemLibrary(const char* name);
