#include "CUsbPortFinder.h"

#include "CRegistryKey.h"
#include "TextBuffer.h"

#include <algorithm>
#include <cstring>

namespace {
const char kDeviceParameters[] = "\\Device Parameters";
// Registry key names have at most 255 characters.
const DWORD kMaxKeyName = 256;
}

CUsbPortFinder::CUsbPortFinder(const char* szDeviceKey, std::size_t cchPathLimit)
    : m_szDeviceKey(szDeviceKey), m_cchPathLimit(std::min(cchPathLimit, kMaxPathLimit))
{
}

void CUsbPortFinder::Find(char* szUsbPort, std::size_t cbUsbPort)
{
    CRegistryKey deviceKey;
    if (!deviceKey.Open(m_szDeviceKey))
        return;
    char szInstance[kMaxKeyName];
    for (DWORD dwIndex = 0;; ++dwIndex) {
        LONG result = deviceKey.EnumSubKey(dwIndex, szInstance, kMaxKeyName);
        if (result == ERROR_MORE_DATA)
            continue;  // a name we cannot hold: skip that instance
        // Anything else ends the walk, so a key deleted meanwhile cannot keep us here.
        if (result != ERROR_SUCCESS)
            break;
        ReadInstance(szInstance, szUsbPort, cbUsbPort);
    }
}

void CUsbPortFinder::ReadInstance(const char* szInstance, char* szUsbPort, std::size_t cbUsbPort)
{
    char szPath[kMaxPathLimit + 1];
    if (!BuildInstancePath(m_szDeviceKey, szInstance, szPath, m_cchPathLimit))
        return;
    CRegistryKey instanceKey;
    if (!instanceKey.Open(szPath))
        return;
    char szPortName[kMaxPortName + 1];
    if (!instanceKey.QueryText("PortName", szPortName, kMaxPortName))
        return;
    // A port the caller cannot hold whole is not reported, nor left out of the list.
    if (!CopyText(szUsbPort, cbUsbPort, szPortName))
        return;
    std::memcpy(m_szPortName, szPortName, sizeof m_szPortName);
}

bool CUsbPortFinder::BuildInstancePath(const char* szDeviceKey, const char* szInstance, char* szPath,
                                       std::size_t cchLimit)
{
    std::size_t cchKey = std::strlen(szDeviceKey);
    bool bSeparator = cchKey == 0 || szDeviceKey[cchKey - 1] != '\\';
    std::size_t cchInstance = std::strlen(szInstance);
    std::size_t cchSuffix = sizeof kDeviceParameters - 1;
    if (cchKey + bSeparator + cchInstance + cchSuffix > cchLimit)
        return false;
    char* p = szPath;
    p = std::copy(szDeviceKey, szDeviceKey + cchKey, p);
    if (bSeparator)
        *p++ = '\\';
    p = std::copy(szInstance, szInstance + cchInstance, p);
    std::memcpy(p, kDeviceParameters, sizeof kDeviceParameters);
    return true;
}
