// The platform calls of the tool that tests replace: starting a program (and
// whether the tool runs elevated, which decides how), the
// temporary folder, the random folder name, the bitness and safe DLL search
// lookups, the clean-up (deleting by path, and through a handle) and the messages to the user. The program itself never changes them.
#pragma once

#include <windows.h>
#include <shellapi.h>

struct InstallerPlatform {
    decltype(&::ShellExecuteExW) shellExecuteEx = ::ShellExecuteExW;
    decltype(&::CreateProcessW) createProcess = ::CreateProcessW;
    bool (*isElevated)();
    decltype(&::GetTempPathW) getTempPath = ::GetTempPathW;
    BOOLEAN(WINAPI* genRandom)(PVOID, ULONG);
    decltype(&::GetProcAddress) getProcAddress = ::GetProcAddress;
    decltype(&::DeleteFileW) deleteFile = ::DeleteFileW;
    decltype(&::SetFileInformationByHandle) setFileInformation = ::SetFileInformationByHandle;
    decltype(&::MessageBoxW) messageBox = ::MessageBoxW;

    InstallerPlatform();
};

InstallerPlatform& Platform();
