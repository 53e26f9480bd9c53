// Small helpers shared by the display link tests.
#pragma once

#include "TestEnv.h"
#include "link/CSerialCommHelper.h"

#include <windows.h>
#include <string>
#include <vector>

namespace linktest {

// Polls ReadAvailable until at least count bytes have come or the time is up.
std::string ReadUntil(CSerialCommHelper& serial, size_t count, DWORD timeoutMs);

// How many captured trace lines contain text.
int CountLines(const testenv::TraceCapture& trace, const std::string& text);

std::string AsString(const std::vector<BYTE>& bytes);
std::vector<BYTE> AsBytes(const std::string& text);

}  // namespace linktest
