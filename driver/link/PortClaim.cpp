#include "PortClaim.h"

#include <cctype>
#include <cstring>

void PortClaim::Take(const char* portName)
{
    Release();
    m_hMark = CreateMutexA(nullptr, FALSE, ObjectName(portName).c_str());
}

void PortClaim::Release()
{
    if (m_hMark)
        CloseHandle(m_hMark);
    m_hMark = nullptr;
}

bool PortClaim::IsTaken(const char* portName)
{
    HANDLE mark = OpenMutexA(SYNCHRONIZE, FALSE, ObjectName(portName).c_str());
    if (!mark)
        return false;
    CloseHandle(mark);
    return true;
}

std::string PortClaim::ObjectName(const char* portName)
{
    const char* name = portName ? portName : "";
    if (strncmp(name, "\\\\.\\", 4) == 0)
        name += 4;
    std::string object = "Local\\Cellivanta VK port ";
    for (; *name; ++name)
        object += *name == '\\' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(*name)));
    return object;
}
