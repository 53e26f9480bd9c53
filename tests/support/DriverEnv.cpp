#include "DriverEnv.h"
#include "trace/Trace.h"

#include <cstdlib>

namespace testenv {

namespace {

std::mutex g_traceMutex;
std::vector<std::string> g_traceLines;

void CollectTrace(const char* line)
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceLines.emplace_back(line);
}

}  // namespace

std::string WhyNoPulls()
{
    return portpairs::CanPull() ? "" : "pulls a pair's cable, which only the Linux run's port manager (scripts/test-env.sh) can do";
}

IBrailleDriver* LoadDriver()
{
    HMODULE module = LoadLibraryA("VK.JLB");
    if (!module)
        return nullptr;
    auto getInterface =
        reinterpret_cast<PFN_GetBrailleInterface>(reinterpret_cast<void*>(GetProcAddress(module, "GetBrailleInterface")));
    if (!getInterface)
        return nullptr;
    IBrailleDriver* driver = nullptr;
    getInterface(&driver);
    return driver;
}

TraceCapture::TraceCapture()
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    g_traceLines.clear();
    SetTraceSink(CollectTrace);
}

TraceCapture::~TraceCapture()
{
    SetTraceSink(nullptr);
}

std::vector<std::string> TraceCapture::Lines() const
{
    std::lock_guard<std::mutex> lock(g_traceMutex);
    return g_traceLines;
}

bool TraceCapture::Contains(const std::string& text) const
{
    return Count(text) > 0;
}

int TraceCapture::Count(const std::string& text) const
{
    int count = 0;
    for (const std::string& line : Lines())
        if (line.find(text) != std::string::npos)
            ++count;
    return count;
}

}  // namespace testenv

namespace keycode {

std::vector<BYTE> RoutingPress(int index)
{
    std::vector<BYTE> press = KeyFrame(kKeyDownFrame, R(index));
    const std::vector<BYTE> up = KeyFrame(kKeyUpFrame, R(index));
    press.insert(press.end(), up.begin(), up.end());
    return press;
}

std::vector<BYTE> ChordCodes(const std::string& chord)
{
    std::vector<BYTE> codes;
    size_t start = 0;
    while (start < chord.size()) {
        size_t end = chord.find('+', start);
        if (end == std::string::npos)
            end = chord.size();
        const int n = atoi(chord.c_str() + start + 1);
        const char group = chord[start];
        codes.push_back(group == 'D' ? D(n) : group == 'C' ? C(n) : T(n));
        start = end + 1;
    }
    return codes;
}

}  // namespace keycode

int RecordingCallbacks::ProcessBrailleCommandKeys(IBrailleDriver*, const char* szKeyComb, int nRoutingKey)
{
    Record({Delivery::Command, szKeyComb, nRoutingKey, GetCurrentThreadId(), clock.Ms()});
    return 1;
}

int RecordingCallbacks::ProcessEncodedTypeKey(IBrailleDriver*, const BYTE* pRecord, int nLength)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        lastRecord.assign(pRecord, pRecord + nLength);
    }
    const char c = nLength == 3 ? static_cast<char>(pRecord[0] ^ pRecord[1] ^ pRecord[2]) : '?';
    Record({Delivery::Typed, std::string(1, c), 0, GetCurrentThreadId(), clock.Ms()});
    return typedResult;
}

// Letters a to j for the dot patterns of the first braille row; nothing else.
WORD RecordingCallbacks::DotsToChar(IBrailleDriver*, WORD woBrailleDots)
{
    static const BYTE letters[] = {0x01, 0x03, 0x09, 0x19, 0x11, 0x0B, 0x1B, 0x13, 0x0A, 0x1A};
    std::lock_guard<std::mutex> lock(m_mutex);
    if (keep)
        m_dotsAsked.push_back(woBrailleDots);
    for (int i = 0; i < 10; ++i)
        if (woBrailleDots == letters[i])
            return static_cast<WORD>('a' + i);
    return 0;
}

void RecordingCallbacks::Record(const Delivery& delivery)
{
    if (onDelivery)
        onDelivery(delivery);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (keep)
        m_deliveries.push_back(delivery);
}

std::vector<Delivery> RecordingCallbacks::Deliveries()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deliveries;
}

std::vector<WORD> RecordingCallbacks::DotsAsked()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dotsAsked;
}

void RecordingCallbacks::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deliveries.clear();
    m_dotsAsked.clear();
}
