// A screen reader's session with the loaded VK.JLB against the display
// simulator: the display's USB instances in the registry, the process's threads.
#pragma once

#include "DisplaySimulator.h"
#include "DriverEnv.h"
#include "ScopedRegistryKey.h"

#include <windows.h>
#include <string>
#include <vector>

// Registers the display's USB instances (name -> port) in the 64-bit registry
// view for the life of the object; any earlier registration is cleared first.
class UsbRegistration {
public:
    explicit UsbRegistration(const std::vector<std::pair<std::string, std::string>>& instances);

private:
    ScopedRegistryKey m_device;
};

using testenv::PumpMessages;
using testenv::PumpUntil;

int ThreadCountOfProcess();
