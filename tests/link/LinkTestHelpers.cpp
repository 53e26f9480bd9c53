#include "LinkTestHelpers.h"

namespace linktest {

std::string ReadUntil(CSerialCommHelper& serial, size_t count, DWORD timeoutMs)
{
    std::string all;
    const DWORD start = GetTickCount();
    while (all.size() < count && GetTickCount() - start < timeoutMs) {
        std::string chunk;
        if (SUCCEEDED(serial.ReadAvailable(chunk)))
            all += chunk;
        if (all.size() < count)
            Sleep(5);
    }
    return all;
}

int CountLines(const testenv::TraceCapture& trace, const std::string& text)
{
    int count = 0;
    for (const std::string& line : trace.Lines())
        if (line.find(text) != std::string::npos)
            ++count;
    return count;
}

std::string AsString(const std::vector<BYTE>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<BYTE> AsBytes(const std::string& text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}

}  // namespace linktest
