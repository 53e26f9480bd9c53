#include "KeyScript.h"
#include "ComputerBraille.h"
#include "CellivantaKeyCodes.h"

#include <cstdlib>
#include <sstream>

namespace KeyScript {

namespace {
using namespace CellivantaKeyCodes;
const int kSpace = kLastD;  // D9
}

BYTE CodeOfKeyName(const std::string& name)
{
    if (name.size() < 2)
        return 0;
    const int n = atoi(name.c_str() + 1);
    switch (toupper(static_cast<unsigned char>(name[0]))) {
    case 'D': return n >= 1 && n <= 9 ? static_cast<BYTE>(kFirstD + n - 1) : 0;
    case 'C': return n >= 1 && n <= 6 ? static_cast<BYTE>(kFirstC + n - 1) : 0;
    case 'T': return n >= 1 && n <= 4 ? static_cast<BYTE>(kFirstT + n - 1) : 0;
    case 'R': return n >= 1 && n <= 80 ? static_cast<BYTE>(kFirstRouting + n - 1) : 0;
    default: return 0;
    }
}

std::vector<BYTE> ChordOfCharacter(char c)
{
    if (c == ' ')
        return {static_cast<BYTE>(kSpace)};
    const uint8_t dots = ComputerBraille::CharToDots(c);
    std::vector<BYTE> chord;
    for (int dot = 0; dot < 8; ++dot)
        if (dots & (1u << dot))
            chord.push_back(static_cast<BYTE>(kFirstD + dot));
    return chord;
}

std::vector<std::string> Words(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

}  // namespace KeyScript
