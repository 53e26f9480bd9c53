// Key codes of the display's key groups, as its key-down and key-up frames
// carry them.
#pragma once

namespace CellivantaKeyCodes {

constexpr int kFirstD = 2, kLastD = 10;  // D1..D9 (D9 is the space key)
constexpr int kFirstC = 11, kLastC = 16;  // C1..C6
constexpr int kFirstT = 17, kLastT = 20;  // T1..T4
constexpr int kFirstRouting = 80, kLastRouting = 159;  // routing keys 1..80

}  // namespace CellivantaKeyCodes
