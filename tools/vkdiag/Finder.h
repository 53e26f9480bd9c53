// `vkdiag find [--probe [PORT]]`: the ports, the display's USB entries, the
// installed driver and key map, and with --probe each candidate port tried.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class Finder {
public:
    explicit Finder(FILE* out) : m_out(out) {}

    // True when the display was found: named by a USB entry on a port that
    // is present, or (probing) when it answered. port "" probes every
    // candidate; "usb" the ports of the USB entries.
    bool Run(bool probe, const std::string& port);

private:
    void WritePorts();
    void WriteInstall();
    bool FoundWithoutProbe();
    bool Probe(const std::string& port);
    std::vector<std::string> Candidates(const std::string& port) const;
    bool IsPresent(const std::string& port) const;
    void Line(const std::string& text);

    FILE* m_out;
    std::vector<std::string> m_comPorts;
    std::vector<std::string> m_usbPorts;
};
