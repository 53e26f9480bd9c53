// The port pairs of the test environment (scripts/test-env.sh): pair n joins
// the driver's end COM1n to the display's end COM2n, and its port manager
// pulls and replugs a pair on request.
#pragma once

#include <string>

namespace portpairs {

const int kPairCount = 4;

// COM port of the driver's end of pair n (1..4) and of the display's end.
std::string DriverPort(int n);
std::string DisplayPort(int n);

// Stops pair n's pseudo-terminals (a pulled cable) / starts them again; false
// when the port manager cannot be reached or does not serve the request.
bool UnplugPair(int n);
bool ReplugPair(int n);

}  // namespace portpairs
