// The folder an elevated setup installs into, or its uninstaller removes
// from, readied so that no program of the user can choose or change what goes
// there: no link on it or on a folder above it, and only SYSTEM,
// administrators and TrustedInstaller may own or change it. It is held open
// without delete sharing, so that neither it nor a folder above it can be
// renamed and replaced while the setup works.
#pragma once

#include <windows.h>

#include <string>

// What SecureSetupFolder found and did (its answer to the setup).
enum SetupFolderResult {
    kSetupFolderFailed = 0,    // could not be made, checked or narrowed: the error says why
    kSetupFolderReady = 1,     // there already, and only administrators may change it
    kSetupFolderMade = 2,      // made new, for administrators only
    kSetupFolderNarrowed = 3,  // other accounts could change it: now only administrators
    kSetupFolderOwned = 4,     // another account owned it: now the administrators do
    kSetupFolderLinked = 5,    // it, or a folder above it, is a link: refused
};

// The path in its full form, in long names as far as it exists (as the
// platform gives a handle's path), with no backslash after a folder's name.
std::wstring FullPath(const std::wstring& path);

// Makes the folder (and the missing folders above it) or takes the one
// there; held receives the handle that holds it, error the platform's error
// when the result is kSetupFolderFailed.
SetupFolderResult SecureFolder(const std::wstring& folder, HANDLE& held, DWORD& error);

// Whether the disk of folder (or of the nearest folder above it that exists)
// has kilobytes free: 1 when it has, 0 when it has not (free receives what it
// has), -1 when it cannot tell.
int RoomFor(const std::wstring& folder, ULONGLONG kilobytes, ULONGLONG& free);
