#include "FolderSecurity.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// Full control for SYSTEM and administrators, reading for users; owned by the
// administrators; nothing inherited from the parent.
const wchar_t kAdministratorsChange[] = L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t kTrustedInstaller[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Adding, changing or removing what is in the folder, renaming it, or
// changing who may.
const DWORD kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                       FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// Wine keeps no owner or access list of its own: every file is the one Unix
// user's, shown as owned by the account the program runs as, which there is
// no other account's way in.
bool IsWinesOnlyAccount(PSID sid)
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version"))
        return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    char buffer[256];
    DWORD size = 0;
    const bool own = GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
                     EqualSid(sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return own;
}

bool IsTrusted(PSID sid)
{
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
        IsWinesOnlyAccount(sid))
        return true;
    PSID trustedInstaller = nullptr;
    if (!ConvertStringSidToSidW(kTrustedInstaller, &trustedInstaller))
        return false;
    const bool trusted = EqualSid(sid, trustedInstaller) != FALSE;
    LocalFree(trustedInstaller);
    return trusted;
}

// An entry that lets an account other than the trusted ones change the folder.
// "Creator owner" entries that only pass on to what is made inside give that
// to whoever may make it, which the folder's own entries already decide.
bool LetsOthersChange(const ACE_HEADER* header)
{
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
        return false;
    const auto* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    PSID sid = const_cast<DWORD*>(&ace->SidStart);
    if (!(ace->Mask & kChanges) || IsTrusted(sid))
        return false;
    return !((header->AceFlags & INHERIT_ONLY_ACE) && IsWellKnownSid(sid, WinCreatorOwnerSid));
}

}  // namespace

FolderOthers OthersIn(PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = nullptr;
    PACL acl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl)
        return FolderOthers::Entries;  // no access list lets everyone in
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace) || LetsOthersChange(static_cast<ACE_HEADER*>(ace)))
            return FolderOthers::Entries;
    }
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !owner || !IsTrusted(owner))
        return FolderOthers::Owner;
    return FolderOthers::None;
}

DWORD CheckFolderOthers(HANDLE held, FolderOthers& others)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = GetSecurityInfo(held, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return error;
    others = OthersIn(descriptor);
    LocalFree(descriptor);
    return ERROR_SUCCESS;
}

DWORD LetOnlyAdministratorsChange(HANDLE held)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsChange, SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return GetLastError();
    PSID owner = nullptr;
    PACL acl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    DWORD error = SetSecurityInfo(held, SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                      PROTECTED_DACL_SECURITY_INFORMATION,
                                  owner, nullptr, acl, nullptr);
    LocalFree(descriptor);
    // What Windows keeps is checked, not what was asked for.
    FolderOthers others = FolderOthers::None;
    const DWORD checked = CheckFolderOthers(held, others);
    if (checked != ERROR_SUCCESS)
        return checked;
    if (others == FolderOthers::None)
        return ERROR_SUCCESS;
    return error != ERROR_SUCCESS ? error : ERROR_ACCESS_DENIED;
}
