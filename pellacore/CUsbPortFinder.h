// Finds the display's USB virtual COM port under its device key in the
// platform's USB enumeration tree: each device instance may record a
// "PortName" under "Device Parameters"; the last instance in enumeration
// order that has one wins.
#pragma once

#include <cstddef>

class CUsbPortFinder {
public:
    // "PortName" is read up to this many bytes, terminator included.
    static const std::size_t kMaxPortName = 290;

    // cchPathLimit bounds the path built for an instance (at most 1489).
    CUsbPortFinder(const char* szDeviceKey, std::size_t cchPathLimit);

    // Looks through the instances; every name that fits into szUsbPort (cbUsbPort
    // bytes) is copied there and becomes PortName(). A missing key or value
    // leaves szUsbPort as it was and PortName() empty.
    void Find(char* szUsbPort, std::size_t cbUsbPort);

    // The port copied into the caller's buffer, the one to leave out of the list.
    const char* PortName() const { return m_szPortName; }

    // szDeviceKey + "\" (unless it already ends with one) + szInstance +
    // "\Device Parameters" into szPath (cchLimit + 1 bytes); false, and
    // nothing usable, when it would be longer than cchLimit characters.
    static bool BuildInstancePath(const char* szDeviceKey, const char* szInstance, char* szPath,
                                  std::size_t cchLimit);

    static const std::size_t kMaxPathLimit = 1489;

private:
    void ReadInstance(const char* szInstance, char* szUsbPort, std::size_t cbUsbPort);

    const char* m_szDeviceKey;
    std::size_t m_cchPathLimit;
    char m_szPortName[kMaxPortName + 1] = {};
};
