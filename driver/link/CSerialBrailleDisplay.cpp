// Placeholder until the display base lands.
#include "CSerialBrailleDisplay.h"
CSerialBrailleDisplay::CSerialBrailleDisplay() {}
CSerialBrailleDisplay::~CSerialBrailleDisplay() {}
bool CSerialBrailleDisplay::ConnectTo(const char*) { return false; }
bool CSerialBrailleDisplay::Disconnect() { return false; }
bool CSerialBrailleDisplay::IsConnected() { return false; }
bool CSerialBrailleDisplay::GetDisplayInfos(int&, int&) { return false; }
bool CSerialBrailleDisplay::DisplayBraille(const BYTE*, int) { return false; }
bool CSerialBrailleDisplay::GetCells(BYTE*, int) { return false; }
bool CSerialBrailleDisplay::ProcessReceivedData() { return false; }
bool CSerialBrailleDisplay::ProcessReceivedData(HWND, UINT) { return false; }
