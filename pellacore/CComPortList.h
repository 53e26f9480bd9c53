// The list of COM ports in the caller's buffer, "COM1;COM3;": each selected
// name followed by ";", the last one too. Appends never go past the capacity
// and the text stays terminated; a name whose "NAME;" does not fit in the
// room left is left out whole, so the list never ends inside a port name.
#pragma once

#include <cstddef>

class CComPortList {
public:
    // Starts the caller's buffer (cbList bytes, at least 1) as an empty list.
    CComPortList(char* szList, std::size_t cbList);

    // "COM" in any case followed by a decimal digit, at least 4 characters,
    // no ";" (the list's separator).
    static bool IsComPortName(const char* szName);

    // Appends every COM port among the platform's MS-DOS device names (NUL-
    // terminated names one after the other, cchDevices characters in all), in
    // their order, except szExclude (compared case-sensitively).
    void AddPorts(const char* pDevices, std::size_t cchDevices, const char* szExclude);

    // Appends szName and ";" when both fit; false (list unchanged) otherwise.
    bool Append(const char* szName);

private:
    char* m_szList;
    std::size_t m_cbList;
    std::size_t m_cchLength = 0;
};
