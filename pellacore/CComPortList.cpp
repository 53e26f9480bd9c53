#include "CComPortList.h"

#include <cctype>
#include <cstring>

CComPortList::CComPortList(char* szList, std::size_t cbList)
    : m_szList(szList), m_cbList(cbList)
{
    m_szList[0] = '\0';
}

bool CComPortList::IsComPortName(const char* szName)
{
    auto upper = [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); };
    // A ";" would read back as two ports, the one left out perhaps among them.
    return std::strlen(szName) >= 4 && upper(szName[0]) == 'C' && upper(szName[1]) == 'O' &&
           upper(szName[2]) == 'M' && szName[3] >= '0' && szName[3] <= '9' && !std::strchr(szName, ';');
}

void CComPortList::AddPorts(const char* pDevices, std::size_t cchDevices, const char* szExclude)
{
    const char* pEnd = pDevices + cchDevices;
    for (const char* pName = pDevices; pName < pEnd && *pName;) {
        // The platform terminates every name; still never look past its count.
        const char* pNul = static_cast<const char*>(std::memchr(pName, '\0', pEnd - pName));
        if (!pNul)
            break;
        if (IsComPortName(pName) && std::strcmp(pName, szExclude) != 0)
            Append(pName);
        pName = pNul + 1;
    }
}

bool CComPortList::Append(const char* szName)
{
    std::size_t cchName = std::strlen(szName);
    if (m_cchLength + cchName + 2 > m_cbList)
        return false;
    std::memcpy(m_szList + m_cchLength, szName, cchName);
    m_cchLength += cchName;
    m_szList[m_cchLength++] = ';';
    m_szList[m_cchLength] = '\0';
    return true;
}
