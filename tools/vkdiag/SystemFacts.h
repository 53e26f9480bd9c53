// What the system says about the display's ports and the installed driver,
// each asked the way the driver itself asks.
#pragma once

#include <string>
#include <vector>

class SystemFacts {
public:
    // The COM ports present: the platform's serial-port list, in its order.
    static std::vector<std::string> ComPorts();
    // The COM ports the display's USB entries name (the driver's "usb" lookup).
    static std::vector<std::string> UsbPorts();
    // vkdiag's folder, where the setup puts it beside the driver and key map.
    static std::string ProgramFolder();
    // Where to look at the installed driver: the folder JAWS names for
    // braille drivers of other makers when VK.JLB is there (as the setup
    // finds it), else vkdiag's own.
    struct DriverFolder {
        std::string path;
        std::string jawsFolder;  // empty: JAWS names none
    };
    static DriverFolder FindDriverFolder();
    // "1.2.3.4", or empty when the file has no version.
    static std::string FileVersion(const std::string& path);
    // "12345 bytes, changed 2026-12-09 10:11" in the current language, or
    // empty when it is missing.
    static std::string FileState(const std::string& path);
};
