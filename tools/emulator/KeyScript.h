// Names of the display's keys and the script language of the emulator.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

namespace KeyScript {

// "D1".."D9", "C1".."C6", "T1".."T4", "R1".."R80" (routing); 0 when unknown.
BYTE CodeOfKeyName(const std::string& name);
// The dot keys that type a character in 8-dot computer braille (space: D9).
std::vector<BYTE> ChordOfCharacter(char c);
std::vector<std::string> Words(const std::string& line);

}  // namespace KeyScript
