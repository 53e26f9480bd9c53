// Who may change a folder that an elevated program writes into or starts
// from, read and set through a handle that holds it (opened with READ_CONTROL,
// and WRITE_DAC | WRITE_OWNER to narrow it), never again through its path.
// Only SYSTEM, the administrators and TrustedInstaller may own such a folder
// or change what is in it: any other account, the installing user's own
// included, is how a program running without elevation would get in.
#pragma once

#include <windows.h>

// What a folder's owner and access list let others do.
enum class FolderOthers {
    None,     // owned and changeable only by SYSTEM, administrators, TrustedInstaller
    Owner,    // another account owns it, and so may rewrite its access list
    Entries,  // an entry lets another account (or everyone) change it
};

// The verdict on a security descriptor with its owner and access list.
FolderOthers OthersIn(PSECURITY_DESCRIPTOR descriptor);

// Reads the held folder's owner and access list; others receives the verdict.
DWORD CheckFolderOthers(HANDLE held, FolderOthers& others);

// Gives the held folder to the administrators, with an access list of its
// own: full control for SYSTEM and administrators, reading for users, which
// what it holds inherits. Then reads back what Windows kept: ERROR_ACCESS_DENIED
// when others may still change it.
DWORD LetOnlyAdministratorsChange(HANDLE held);
