// A registry key with everything under it (or one of its values alone), as it was when taken, put back as it was: what a test
// program run from the test bundle changed in the machine's registry, even
// when the program was stopped before it could clean up.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class RegistrySnapshot {
public:
    // view: KEY_WOW64_64KEY or KEY_WOW64_32KEY; a value name limits the
    // snapshot to that value.
    RegistrySnapshot(HKEY hRoot, std::string path, REGSAM view, std::string valueName = "");
    // Puts the key (or value) back: removed when it did not exist.
    bool Restore() const;
    const std::string& Path() const { return m_path; }

private:
    struct Value {
        std::string name;
        DWORD type;
        std::vector<BYTE> data;
    };
    struct Key {
        std::vector<Value> values;
        std::vector<std::pair<std::string, Key>> subKeys;
    };

    static bool ReadValue(HKEY hKey, const std::string& name, Value& value);
    static Key ReadKey(HKEY hKey);
    static bool WriteKey(HKEY hKey, const Key& key);
    bool RestoreValue() const;
    bool RestoreKey() const;

    HKEY m_hRoot;
    std::string m_path;
    REGSAM m_view;
    std::string m_valueName;
    bool m_existed = false;
    Key m_key;
    Value m_value{};
};
