#include "Finder.h"

#include "LogTool.h"
#include "PortProbe.h"
#include "SystemFacts.h"
#include "ToolText.h"
#include "VkdiagTexts.h"

#include <strings.h>

namespace {

using tooltext::Text;

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? Text(IDS_DIAG_NONE) : text;
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
    Line(Text(IDS_DIAG_COM_PORTS, {Joined(m_comPorts)}));
    if (m_usbPorts.empty())
        Line(Text(IDS_DIAG_USB_NONE));
    for (const std::string& port : m_usbPorts)
        Line(Text(IsPresent(port) ? IDS_DIAG_USB_PRESENT : IDS_DIAG_USB_ABSENT, {port}));
}

void Finder::WriteInstall()
{
    const SystemFacts::DriverFolder folder = SystemFacts::FindDriverFolder();
    Line(folder.path == folder.jawsFolder ? Text(IDS_DIAG_FOLDER_JAWS, {folder.path})
         : folder.jawsFolder.empty()      ? Text(IDS_DIAG_FOLDER_OWN_NO_JAWS, {folder.path})
                                          : Text(IDS_DIAG_FOLDER_OWN_NO_DRIVER, {folder.path, folder.jawsFolder}));
    const std::string driver = folder.path + "\\VK.JLB";
    const std::string version = SystemFacts::FileVersion(driver);
    const std::string state = SystemFacts::FileState(driver);
    Line(state.empty() ? Text(IDS_DIAG_DRIVER_MISSING)
                       : Text(IDS_DIAG_DRIVER_VERSION, {version.empty() ? Text(IDS_DIAG_UNKNOWN) : version}));
    const std::string keyMap = SystemFacts::FileState(folder.path + "\\kvbrl.ini");
    Line(keyMap.empty() ? Text(IDS_DIAG_KEYMAP_MISSING) : Text(IDS_DIAG_KEYMAP_STATE, {keyMap}));
    LogTool::WriteState(m_out);
}

bool Finder::FoundWithoutProbe()
{
    for (const std::string& port : m_usbPorts)
        if (IsPresent(port)) {
            Line(Text(IDS_DIAG_FOUND_USB, {port}));
            return true;
        }
    Line(Text(IDS_DIAG_NOT_FOUND_USB));
    return false;
}

bool Finder::Probe(const std::string& port)
{
    const std::vector<std::string> candidates = Candidates(port);
    if (candidates.empty()) {
        Line(Text(IDS_DIAG_NOTHING_TO_PROBE));
        return false;
    }
    Line(Text(IDS_DIAG_PROBING, {Joined(candidates)}));
    const std::string folder = SystemFacts::FindDriverFolder().path;
    std::string found, cells;
    for (const std::string& candidate : candidates) {
        const PortProbe::Result result = PortProbe::Run(candidate, folder);
        Line(PortProbe::Describe(candidate, result));
        if (result.outcome == PortProbe::Answered && found.empty())
            found = candidate, cells = std::to_string(result.cells);
    }
    if (!found.empty()) {
        Line(Text(IDS_DIAG_FOUND_ANSWERED, {found, cells}));
        return true;
    }
    Line(Text(IDS_DIAG_NOT_FOUND_PROBED, {Joined(candidates)}));
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
    tooltext::Line(m_out, text);
}
