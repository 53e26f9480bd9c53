// 8-dot computer braille for ASCII, as the screen reader uses it to turn
// text into cells and typed dot patterns back into characters.
// Bit 0 is dot 1 ... bit 7 is dot 8.
#pragma once

#include <cstdint>
#include <string>

namespace ComputerBraille {

uint8_t CharToDots(char c);
// 0 when the pattern stands for no character of the table.
char DotsToChar(uint8_t dots);
std::string TextToCells(const std::string& text);
// Unicode braille (U+2800 block) in UTF-8, for showing cells on a terminal.
std::string CellsToUnicode(const std::string& cells);

}  // namespace ComputerBraille
