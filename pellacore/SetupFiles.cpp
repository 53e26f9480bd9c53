#include "SetupFiles.h"

#include <windows.h>
#include <wincrypt.h>

#include <vector>

namespace {

const DWORD kMaxHashed = 1024 * 1024;
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

bool ReadSmallFile(const std::wstring& path, std::vector<BYTE>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size = {};
    DWORD read = 0;
    bool done = GetFileSizeEx(file, &size) && size.QuadPart <= kMaxHashed;
    if (done) {
        bytes.resize(static_cast<size_t>(size.QuadPart) + 1);
        done = ReadFile(file, bytes.data(), static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
               read == size.QuadPart;
        bytes.resize(read);
    }
    CloseHandle(file);
    return done;
}

bool IsOneOf(const std::wstring& file, const std::wstring& folder, const std::wstring& names)
{
    const std::wstring prefix = L"\\??\\" + folder + L"\\";
    if (file.size() <= prefix.size() ||
        CompareStringOrdinal(file.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                             static_cast<int>(prefix.size()), TRUE) != CSTR_EQUAL)
        return false;
    const std::wstring name = file.substr(prefix.size());
    for (size_t at = 0, end; (end = names.find(L'|', at)) != std::wstring::npos; at = end + 1)
        if (CompareStringOrdinal(name.c_str(), -1, names.c_str() + at, static_cast<int>(end - at), TRUE) == CSTR_EQUAL)
            return true;
    return false;
}

}  // namespace

bool HashFile(const std::wstring& path, std::wstring& hex)
{
    std::vector<BYTE> bytes;
    if (!ReadSmallFile(path, bytes))
        return false;
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE digest[32];
    DWORD cbDigest = sizeof digest;
    bool done = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    done = done && CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
           CryptHashData(hash, bytes.data(), static_cast<DWORD>(bytes.size()), 0) &&
           CryptGetHashParam(hash, HP_HASHVAL, digest, &cbDigest, 0);
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    hex.clear();
    for (BYTE b : digest)
        if (done)
            hex += L"0123456789abcdef"[b >> 4], hex += L"0123456789abcdef"[b & 15];
    return done;
}

int CancelRenames(const std::wstring& folder, const std::wstring& names)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, size = 0;
    std::vector<wchar_t> all;
    if (RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        all.resize(size / sizeof(wchar_t) + 2, L'\0');  // room for terminators the value may lack
        if (RegQueryValueExW(key, kPendingRenames, nullptr, nullptr, reinterpret_cast<BYTE*>(all.data()), &size) !=
            ERROR_SUCCESS)
            all.clear();
    }
    // Pairs of names: the file, then where it goes ("" to delete it).
    std::wstring kept;
    int cancelled = 0;
    for (const wchar_t* at = all.data(); !all.empty() && *at;) {
        const std::wstring file = at, target = at + file.size() + 1;
        at += file.size() + target.size() + 2;
        if (IsOneOf(file, folder, names))
            ++cancelled;
        else
            kept += file + L'\0' + target + L'\0';
    }
    LONG result = ERROR_SUCCESS;
    if (cancelled && kept.empty())
        result = RegDeleteValueW(key, kPendingRenames);
    else if (cancelled)
        result = RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.c_str()),
                                static_cast<DWORD>((kept.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? cancelled : -1;
}
