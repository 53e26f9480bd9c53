#include "DriverSession.h"

#include <tlhelp32.h>

namespace {
const char kUsbKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c005";
}

UsbRegistration::UsbRegistration(const std::vector<std::pair<std::string, std::string>>& instances)
    : m_device(kUsbKey)
{
    for (const auto& instance : instances)
        m_device.SetText(instance.first + "\\Device Parameters", "PortName", instance.second);
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
