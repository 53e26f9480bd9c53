// The one registry helper of the tests: a key of HKEY_LOCAL_MACHINE written
// by a test in one registry view (0: the process's own), deleted with
// everything under it when created (a run killed by its timeout leaves
// nothing that changes the next one) and again when dropped.
#pragma once

#include <windows.h>

#include <string>

class ScopedRegistryKey {
public:
    explicit ScopedRegistryKey(std::string path, REGSAM view = KEY_WOW64_64KEY);
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    // Writes a value under path\subKey ("" for the key itself), creating keys.
    void SetValue(const std::string& subKey, const char* szName, DWORD dwType, const void* pData,
                  DWORD cbData);
    // A REG_SZ value with its terminator.
    void SetText(const std::string& subKey, const char* szName, const std::string& text);
    // Creates path\subKey without values.
    void Create(const std::string& subKey);
    bool Exists(const std::string& subKey = "") const;
    // Deletes the key with everything under it now.
    void Delete();
    const std::string& Path() const { return m_path; }

private:
    HKEY CreateKey(const std::string& subKey);

    std::string m_path;
    REGSAM m_view;
};
