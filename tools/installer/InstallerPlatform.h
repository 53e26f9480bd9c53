// The platform calls of the tool that tests replace: starting a program, the
// temporary folder, the bitness lookup and the clean-up. The program itself
// never changes them.
#pragma once

#include <windows.h>
#include <shellapi.h>

struct InstallerPlatform {
    decltype(&::ShellExecuteA) shellExecute = ::ShellExecuteA;
    decltype(&::GetTempPathA) getTempPath = ::GetTempPathA;
    decltype(&::GetProcAddress) getProcAddress = ::GetProcAddress;
    decltype(&::DeleteFileA) deleteFile = ::DeleteFileA;
    decltype(&::RemoveDirectoryA) removeDirectory = ::RemoveDirectoryA;
};

InstallerPlatform& Platform();
