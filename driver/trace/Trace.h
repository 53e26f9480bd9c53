// The driver's trace facility. Every operation reports through Trace(); by
// default the lines go nowhere (the driver shows nothing and writes no file).
// Code linked into a test can install a sink to look at them.
#pragma once

#include <cstdarg>

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void TraceInit(const char* fileName);

using TraceSink = void (*)(const char* line);
// Installs a sink for the formatted lines (null to discard again); returns the old one.
TraceSink SetTraceSink(TraceSink sink);
