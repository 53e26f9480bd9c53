#include "ScreenReaderHost.h"
#include "ComputerBraille.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

ScreenReaderHost::ScreenReaderHost() : m_start(GetTickCount()) {}

void ScreenReaderHost::Say(const char* format, ...)
{
    char line[1200];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    printf("[%6lu ms] %s\n", static_cast<unsigned long>(GetTickCount() - m_start), line);
    fflush(stdout);
}

bool ScreenReaderHost::Load(const std::string& path)
{
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        Say("cannot load %s (error %lu)", path.c_str(), GetLastError());
        return false;
    }
    auto getInterface = reinterpret_cast<PFN_GetBrailleInterface>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetBrailleInterface")));
    if (!getInterface) {
        Say("%s has no GetBrailleInterface", path.c_str());
        return false;
    }
    char fullPath[MAX_PATH];
    GetModuleFileNameA(module, fullPath, MAX_PATH);
    m_driverPath = fullPath;
    getInterface(&m_driver);
    Say("loaded %s", m_driverPath.c_str());
    return true;
}

void ScreenReaderHost::PrintInfo()
{
    char text[256];
    GUID guid{};
    Say("interface version   0x%X", m_driver->GetInterfaceVersion());
    Say("driver version      %d", m_driver->GetDriverVersion());
    Say("display version     %d", m_driver->GetDisplayVersion());
    m_driver->GetDisplayKeyMapName(text, sizeof text);
    Say("key map name        \"%s\"", text);
    m_driver->GetDisplayName(text, sizeof text);
    Say("display name        \"%s\"", text);
    m_driver->GetDriverName(text, sizeof text);
    Say("driver name         \"%s\"", text);
    if (m_driver->GetManufacturerInfo(text, sizeof text, &guid))
        Say("manufacturer        \"%s\" {%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", text,
            static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
            guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    Say("cells               %d text + %d status = %d", m_driver->GetTextCellCount(),
        m_driver->GetStatusCellCount(), m_driver->GetTotalCellCount());
    Say("integrated speech   %s", m_driver->HasIntegratedSpeech() ? "yes" : "no");
    Say("custom layout       %s", m_driver->SupportsCustomLayout() ? "yes" : "no");
    Say("firmness setting    %s", m_driver->SupportsFirmnessSetting(nullptr) ? "yes" : "no");
    Say("type keys mode      %s", m_driver->SupportsTypeKeysMode() ? "yes" : "no");
    Say("keys polled         %s", m_driver->IsKeyWaiting() ? "yes" : "no (pushed through callbacks)");
}

bool ScreenReaderHost::Open(const std::string& port)
{
    m_openThread = GetCurrentThreadId();
    const DWORD before = GetTickCount();
    const BOOL opened = m_driver->Open(port.c_str(), this, "Cellivanta VK", m_driverPath.c_str());
    const DWORD took = GetTickCount() - before;
    if (!opened) {
        Say("Open(\"%s\") failed after %lu ms", port.c_str(), static_cast<unsigned long>(took));
        return false;
    }
    Say("Open(\"%s\") succeeded in %lu ms: %d cells", port.c_str(), static_cast<unsigned long>(took),
        m_driver->GetTotalCellCount());
    return true;
}

void ScreenReaderHost::Show(const std::string& text)
{
    const std::string cells = ComputerBraille::TextToCells(text);
    const BOOL posted = m_driver->ShowText(cells.data(), static_cast<int>(cells.size()));
    Say("ShowText(\"%s\") -> %s  %s", text.c_str(), posted ? "TRUE" : "FALSE",
        ComputerBraille::CellsToUnicode(cells).c_str());
}

// The screen reader's own message loop: keys reach it from here.
void ScreenReaderHost::Pump(DWORD milliseconds)
{
    const DWORD end = GetTickCount() + milliseconds;
    for (;;) {
        const DWORD now = GetTickCount();
        if (static_cast<LONG>(end - now) <= 0)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

bool ScreenReaderHost::Run(const std::vector<std::string>& command)
{
    const std::string& verb = command[0];
    const std::string arg = command.size() > 1 ? command[1] : "";
    if (verb == "info")
        PrintInfo();
    else if (verb == "open")
        return Open(arg);
    else if (verb == "show")
        Show(arg);
    else if (verb == "status")
        Say("ShowStatus -> %s", m_driver->ShowStatus(arg.data(), static_cast<int>(arg.size())) ? "TRUE" : "FALSE");
    else if (verb == "clear")
        Say("Clear -> %s", m_driver->Clear() ? "TRUE" : "FALSE");
    else if (verb == "sleep")
        Say("Sleep(TRUE) -> %s", m_driver->Sleep(TRUE) ? "TRUE" : "FALSE");
    else if (verb == "wake")
        Say("Sleep(FALSE) -> %s", m_driver->Sleep(FALSE) ? "TRUE" : "FALSE");
    else if (verb == "close") {
        m_driver->Close();
        Say("Close");
    } else if (verb == "wait")
        Pump(static_cast<DWORD>(atoi(arg.c_str())));
    else if (verb == "say")
        Say("%s", arg.c_str());
    else {
        Say("unknown command \"%s\"", verb.c_str());
        return false;
    }
    return true;
}

int ScreenReaderHost::ProcessBrailleCommandKeys(IBrailleDriver*, const char* szKeyComb, int nRoutingKey)
{
    const char* where = GetCurrentThreadId() == m_openThread ? "" : " (NOT on the opening thread)";
    if (nRoutingKey)
        Say("command key  %-28s routing %d%s", szKeyComb, nRoutingKey, where);
    else
        Say("command key  %s%s", szKeyComb, where);
    return 1;
}

int ScreenReaderHost::ProcessEncodedTypeKey(IBrailleDriver*, const BYTE* pRecord, int nLength)
{
    if (nLength != 3)
        return 0;
    const char c = static_cast<char>(pRecord[0] ^ pRecord[1] ^ pRecord[2]);
    const char* where = GetCurrentThreadId() == m_openThread ? "" : " (NOT on the opening thread)";
    Say("typed        '%c'%s", c, where);
    return 1;
}

WORD ScreenReaderHost::DotsToChar(IBrailleDriver*, WORD woBrailleDots)
{
    return static_cast<WORD>(static_cast<unsigned char>(ComputerBraille::DotsToChar(woBrailleDots & 0xFF)));
}
