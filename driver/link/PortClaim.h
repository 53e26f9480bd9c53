// A named mark held while the driver has a port open, so that a diagnostic
// tool can tell "the braille driver is using this port" from "nothing
// answers there" (Windows refuses a second open of a port, but not every
// platform does, and a refusal does not say who holds it).
#pragma once

#include <windows.h>

#include <string>

class PortClaim {
public:
    PortClaim() = default;
    ~PortClaim() { Release(); }
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

    void Take(const char* portName);
    void Release();
    // True while some process of this session holds the port's mark.
    static bool IsTaken(const char* portName);

private:
    // "COM5", "com5" and "\\.\COM5" name one port.
    static std::string ObjectName(const char* portName);

    HANDLE m_hMark = nullptr;
};
