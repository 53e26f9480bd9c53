// The port pairs of the test environment (scripts/test-env.sh): pair n joins
// the driver's end COM1n to the display's end COM2n, and its port manager
// pulls and replugs a pair on request. A program of the test bundle on
// Windows is given its pairs instead (--pairs COM11:COM21,COM12:COM22 on its
// command line, as a null-modem driver makes them); nothing pulls those.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace portpairs {

const int kPairCount = 4;

// COM port of the driver's end of pair n (1..4) and of the display's end.
std::string DriverPort(int n);
std::string DisplayPort(int n);

// How many pairs the command line names (0 when it names none: the
// environment's own COM1n and COM2n are used), and the option that hands
// them on to another program ("" when none are named).
int NamedPairCount();
std::string PairsOption();

// The pairs of an option's value: DRIVER:DISPLAY entries joined by commas
// (an entry without both names is none).
std::vector<std::pair<std::string, std::string>> ParsePairs(const std::string& list);

// Whether a port manager pulls and replugs the pairs.
bool CanPull();
// Stops pair n's pseudo-terminals (a pulled cable) / starts them again; false
// when the port manager cannot be reached or does not serve the request.
bool UnplugPair(int n);
bool ReplugPair(int n);

}  // namespace portpairs
