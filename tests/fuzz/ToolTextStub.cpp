// The texts of the programs' resources, natively: the string's id and its
// inserts, enough for the oracles, which never read a message's words.
#include "ToolText.h"

namespace tooltext {

std::string Text(unsigned id, std::initializer_list<std::string> inserts)
{
    std::string text = "#" + std::to_string(id);
    for (const std::string& insert : inserts)
        text += " " + insert;
    return text;
}

}  // namespace tooltext
