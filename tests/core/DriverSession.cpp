#include "DriverSession.h"

#include <tlhelp32.h>

namespace {
const char kUsbKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c005";
}

int RecordingCallbacks::ProcessBrailleCommandKeys(IBrailleDriver*, const char* szKeyComb, int nRoutingKey)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deliveries.push_back({Delivery::Command, szKeyComb, nRoutingKey, GetCurrentThreadId()});
    return 1;
}

int RecordingCallbacks::ProcessEncodedTypeKey(IBrailleDriver*, const BYTE* pRecord, int nLength)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    lastRecord.assign(pRecord, pRecord + nLength);
    const char c = nLength == 3 ? static_cast<char>(pRecord[0] ^ pRecord[1] ^ pRecord[2]) : '?';
    m_deliveries.push_back({Delivery::Typed, std::string(1, c), 0, GetCurrentThreadId()});
    return typedResult;
}

// Letters a to j for the dot patterns of the first braille row; nothing else.
WORD RecordingCallbacks::DotsToChar(IBrailleDriver*, WORD woBrailleDots)
{
    static const BYTE letters[] = {0x01, 0x03, 0x09, 0x19, 0x11, 0x0B, 0x1B, 0x13, 0x0A, 0x1A};
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dotsAsked.push_back(woBrailleDots);
    for (int i = 0; i < 10; ++i)
        if (woBrailleDots == letters[i])
            return static_cast<WORD>('a' + i);
    return 0;
}

std::vector<Delivery> RecordingCallbacks::Deliveries()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deliveries;
}

std::vector<WORD> RecordingCallbacks::DotsAsked()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dotsAsked;
}

void RecordingCallbacks::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deliveries.clear();
    m_dotsAsked.clear();
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
