#include "ComputerBraille.h"

namespace ComputerBraille {

namespace {

const uint8_t kDot7 = 0x40;
const uint8_t kDot8 = 0x80;

// Six-dot patterns of the characters 0x20 to 0x5F, written as dot numbers.
const char* const kSixDot[64] = {
    "",      "2346", "5",     "3456", "1246", "146",  "12346", "3",     // space ! " # $ % & '
    "12356", "23456", "16",   "346",  "6",    "36",   "46",    "34",    // ( ) * + , - . /
    "356",   "2",    "23",    "25",   "256",  "26",   "235",   "2356",  // 0 - 7
    "236",   "35",   "156",   "56",   "126",  "123456", "345", "1456",  // 8 9 : ; < = > ?
    "4",     "1",    "12",    "14",   "145",  "15",   "124",   "1245",  // @ A - G
    "125",   "24",   "245",   "13",   "123",  "134",  "1345",  "135",   // H - O
    "1234",  "12345", "1235", "234",  "2345", "136",  "1236",  "2456",  // P - W
    "1346",  "13456", "1356", "246",  "1256", "12456", "45",   "456",   // X Y Z [ \ ] ^ _
};

uint8_t Pattern(const char* dots)
{
    uint8_t bits = 0;
    for (const char* d = dots; *d; ++d)
        bits |= static_cast<uint8_t>(1u << (*d - '1'));
    return bits;
}

}  // namespace

// Lower case and the characters 0x60-0x7F take the plain six-dot pattern of
// their upper-case partner; upper case and 0x40-0x5F add dot 7; control
// characters add dots 7 and 8.
uint8_t CharToDots(char ch)
{
    const unsigned c = static_cast<unsigned char>(ch) & 0x7F;
    if (c < 0x20)
        return Pattern(kSixDot[c + 0x20]) | kDot7 | kDot8;
    if (c < 0x40)
        return Pattern(kSixDot[c - 0x20]);
    if (c < 0x60)
        return Pattern(kSixDot[c - 0x20]) | kDot7;
    return Pattern(kSixDot[c - 0x40]);
}

char DotsToChar(uint8_t dots)
{
    for (unsigned c = 1; c < 0x80; ++c)
        if (CharToDots(static_cast<char>(c)) == dots)
            return static_cast<char>(c);
    return 0;
}

std::string TextToCells(const std::string& text)
{
    std::string cells;
    for (char c : text)
        cells += static_cast<char>(CharToDots(c));
    return cells;
}

std::string CellsToUnicode(const std::string& cells)
{
    std::string out;
    for (char cell : cells) {
        const unsigned code = 0x2800 + static_cast<unsigned char>(cell);
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

}  // namespace ComputerBraille
