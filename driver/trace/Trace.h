// The driver's trace facility. Every operation reports through Trace(); by
// default the lines go nowhere (the driver shows nothing and writes no file).
// The user's log (TraceLog) or code linked into a test can install a sink to
// take them.
#pragma once

#include <cstdarg>

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void TraceInit(const char* fileName);

using TraceSink = void (*)(const char* line);
// Installs a sink for the formatted lines (null to discard again); returns the old one.
TraceSink SetTraceSink(TraceSink sink);
// Installs desired only while expected is installed; true when it did.
bool ReplaceTraceSink(TraceSink expected, TraceSink desired);
