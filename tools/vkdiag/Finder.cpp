#include "Finder.h"

#include "LogTool.h"
#include "PortProbe.h"
#include "SystemFacts.h"

#include <strings.h>

namespace {

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "none" : text;
}

}  // namespace

bool Finder::Run(bool probe, const std::string& port)
{
    WritePorts();
    WriteInstall();
    return probe ? Probe(port) : FoundWithoutProbe();
}

void Finder::WritePorts()
{
    m_comPorts = SystemFacts::ComPorts();
    m_usbPorts = SystemFacts::UsbPorts();
    Line("COM ports present: " + Joined(m_comPorts));
    if (m_usbPorts.empty())
        Line("Display USB entries: none (the USB driver is not installed, or the display was never plugged in)");
    for (const std::string& port : m_usbPorts)
        Line("Display USB entry: " + port + (IsPresent(port) ? " (present)" : " (not present now)"));
}

void Finder::WriteInstall()
{
    const std::string folder = SystemFacts::ProgramFolder();
    Line("Driver folder: " + folder);
    const std::string driver = folder + "\\VK.JLB";
    const std::string version = SystemFacts::FileVersion(driver);
    const std::string state = SystemFacts::FileState(driver);
    Line(state.empty() ? "Driver: VK.JLB missing" : "Driver: VK.JLB version " + (version.empty() ? "unknown" : version));
    const std::string keyMap = SystemFacts::FileState(folder + "\\kvbrl.ini");
    Line(keyMap.empty() ? "Key map: kvbrl.ini missing" : "Key map: kvbrl.ini " + keyMap);
    LogTool::WriteState(m_out);
}

bool Finder::FoundWithoutProbe()
{
    for (const std::string& port : m_usbPorts)
        if (IsPresent(port)) {
            Line("Found: the display's USB entry names " + port + ", which is present (--probe to try it)");
            return true;
        }
    Line("Not found: no USB entry of the display names a COM port that is present");
    return false;
}

bool Finder::Probe(const std::string& port)
{
    const std::vector<std::string> candidates = Candidates(port);
    if (candidates.empty()) {
        Line("Not found: no port to probe (no USB entry of the display names one)");
        return false;
    }
    Line("Probing: " + Joined(candidates));
    const std::string folder = SystemFacts::ProgramFolder();
    std::string found;
    for (const std::string& candidate : candidates) {
        const PortProbe::Result result = PortProbe::Run(candidate, folder);
        Line(PortProbe::Describe(candidate, result));
        if (result.outcome == PortProbe::Answered && found.empty())
            found = candidate + " with " + std::to_string(result.cells) + " cells";
    }
    if (!found.empty()) {
        Line("Found: the display answered on " + found);
        return true;
    }
    Line("Not found: no display answered on " + Joined(candidates));
    return false;
}

// Without a port: the USB entries' ports, or every COM port when none.
std::vector<std::string> Finder::Candidates(const std::string& port) const
{
    if (!port.empty() && strcasecmp(port.c_str(), "usb") != 0)
        return {port};
    if (!m_usbPorts.empty() || !port.empty())
        return m_usbPorts;
    return m_comPorts;
}

bool Finder::IsPresent(const std::string& port) const
{
    for (const std::string& present : m_comPorts)
        if (strcasecmp(present.c_str(), port.c_str()) == 0)
            return true;
    return false;
}

void Finder::Line(const std::string& text)
{
    fprintf(m_out, "%s\n", text.c_str());
}
