#include "DriverSession.h"

#include <tlhelp32.h>

namespace {
const char kUsbKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c005";
}

UsbRegistration::UsbRegistration(const std::vector<std::pair<std::string, std::string>>& instances)
{
    for (const auto& instance : instances) {
        const std::string path = std::string(kUsbKey) + "\\" + instance.first + "\\Device Parameters";
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            continue;
        RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(instance.second.c_str()),
                       static_cast<DWORD>(instance.second.size() + 1));
        RegCloseKey(key);
    }
}

UsbRegistration::~UsbRegistration()
{
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kUsbKey);
}

int ThreadCountOfProcess()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}
