// Placeholder until the protocol lands.
#include "CCellivantaDisplay.h"
CCellivantaDisplay::CCellivantaDisplay() {}
CCellivantaDisplay::~CCellivantaDisplay() {}
bool CCellivantaDisplay::SendInitRequest() { return false; }
void CCellivantaDisplay::ProcessReceivedByte(BYTE) {}
bool CCellivantaDisplay::Refresh() { return false; }
bool CCellivantaDisplay::GetUSBVirtualCOMPort(std::vector<std::string>&) { return false; }
void CCellivantaDisplay::ProcessDeviceMessage(int, const BYTE*) {}
bool CCellivantaDisplay::ProcessInitRespMsg(BYTE, BYTE, BYTE) { return false; }
