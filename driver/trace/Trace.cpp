#include "Trace.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<TraceSink> g_sink{nullptr};
}

void Trace(const char* format, ...)
{
    TraceSink sink = g_sink.load();
    if (!sink)
        return;
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    sink(line);
}

// The file is only named here; the user's log (TraceLog) writes it when
// the user turned it on.
void TraceInit(const char* /*fileName*/) {}

TraceSink SetTraceSink(TraceSink sink)
{
    return g_sink.exchange(sink);
}

bool ReplaceTraceSink(TraceSink expected, TraceSink desired)
{
    return g_sink.compare_exchange_strong(expected, desired);
}
