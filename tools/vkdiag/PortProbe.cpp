#include "PortProbe.h"

#include "core/CBrailleDisplayDriver.h"
#include "link/PortClaim.h"
#include "ToolText.h"
#include "VkdiagTexts.h"

namespace {

using tooltext::Text;

std::string SystemText(DWORD error)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = text ? text : "";
    if (text)
        LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}

}  // namespace

PortProbe::Result PortProbe::Run(const std::string& port, const std::string& keyMapFolder)
{
    Result result;
    if (!LookFirst(port, result))
        return result;
    const DWORD start = GetTickCount();
    CBrailleDisplayDriver driver;
    const std::string driverName = keyMapFolder + "\\VK.JLB";
    if (driver.Open(port.c_str(), nullptr, "Cellivanta VK", driverName.c_str())) {
        result.outcome = Answered;
        result.cells = driver.GetTextCellCount();
        driver.Close();
    }
    result.ms = GetTickCount() - start;
    return result;
}

// The driver's own open retries a refused port for seconds and says nothing
// of who holds it: a port in use or missing is told apart here first.
bool PortProbe::LookFirst(const std::string& port, Result& result)
{
    if (PortClaim::IsTaken(port.c_str())) {
        result.outcome = HeldByDriver;
        return false;
    }
    const std::string path = port.compare(0, 4, "\\\\.\\") == 0 ? port : "\\\\.\\" + port;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return true;
    }
    result.error = GetLastError();
    result.outcome = result.error == ERROR_ACCESS_DENIED ? InUse
                     : result.error == ERROR_FILE_NOT_FOUND || result.error == ERROR_PATH_NOT_FOUND ? Missing
                                                                                                     : OpenFailed;
    return false;
}

std::string PortProbe::Describe(const std::string& port, const Result& r)
{
    const std::string ms = std::to_string(r.ms);
    switch (r.outcome) {
    case Answered: return Text(IDS_DIAG_PROBE_ANSWERED, {port, std::to_string(r.cells), ms});
    case NoAnswer: return Text(IDS_DIAG_PROBE_NO_ANSWER, {port, ms});
    case HeldByDriver: return Text(IDS_DIAG_PROBE_DRIVER, {port});
    case InUse: return Text(IDS_DIAG_PROBE_IN_USE, {port});
    case Missing: return Text(IDS_DIAG_PROBE_MISSING, {port});
    case OpenFailed: break;
    }
    return Text(IDS_DIAG_PROBE_FAILED, {port, std::to_string(r.error), SystemText(r.error)});
}
