// Built into the display link library beside the display's key handlers (see
// driver/CMakeLists.txt): it reads the display's key codes.
#include "KeyCapture.h"

#include "CellivantaKeyCodes.h"

#include <cstring>

namespace {

using namespace CellivantaKeyCodes;
// D1..D6 end a D combination; D7, D8 and the space key (D9) may be held
// across combinations (capitals, space chords).
const int kCodeOfD6 = kFirstD + 5;
const int kCarriedKeys[] = {kCodeOfD6 + 1, kCodeOfD6 + 2, kLastD};

enum class KeyGroup { None, D, C, T, Routing };

KeyGroup GroupOf(int code)
{
    if (code >= kFirstD && code <= kLastD)
        return KeyGroup::D;
    if (code >= kFirstC && code <= kLastC)
        return KeyGroup::C;
    if (code >= kFirstT && code <= kLastT)
        return KeyGroup::T;
    if (code >= kFirstRouting && code <= kLastRouting)
        return KeyGroup::Routing;
    return KeyGroup::None;
}

bool AnyHeld(const uint8_t* table, int first, int last)
{
    for (int code = first; code <= last; ++code)
        if (table[code])
            return true;
    return false;
}

// Bit (code - first) for each flagged code of the range.
uint32_t BitsOf(const uint8_t* table, int first, int last)
{
    uint32_t bits = 0;
    for (int code = first; code <= last; ++code)
        if (table[code])
            bits |= 1u << (code - first);
    return bits;
}

// Only one routing key is ever flagged; should there be more, the highest wins.
uint32_t RoutingIndexOf(const uint8_t* table)
{
    uint32_t index = 0;
    for (int code = kFirstRouting; code <= kLastRouting; ++code)
        if (table[code])
            index = static_cast<uint32_t>(code - kFirstRouting + 1);
    return index;
}

}  // namespace

bool KeyCapture::KeyDown(uint8_t code)
{
    m_keyPressed[code] = 1;
    m_keyInCombination[code] = 1;
    if (m_captureGroup == CaptureNone)
        for (int carried : kCarriedKeys)
            m_keyInCombination[carried] = m_keyPressed[carried];
    switch (GroupOf(code)) {
    case KeyGroup::Routing:
        // Routing keys act on the press and never count as held.
        m_keyPressed[code] = 0;
        return true;
    case KeyGroup::T:
        m_captureGroup = CaptureT;
        break;
    case KeyGroup::C:
        if (m_captureGroup != CaptureT)
            m_captureGroup = CaptureC;
        break;
    case KeyGroup::D:
        if (m_captureGroup != CaptureT && m_captureGroup != CaptureC)
            m_captureGroup = CaptureD;
        break;
    case KeyGroup::None:
        break;
    }
    return false;
}

// The combination is complete when the last key of the deciding group goes
// up; D7, D8 and the space key do not hold a D combination open.
bool KeyCapture::KeyUp(uint8_t code)
{
    m_keyPressed[code] = 0;
    switch (m_captureGroup) {
    case CaptureT:
        return !AnyHeld(m_keyPressed, kFirstT, kLastT);
    case CaptureC:
        return !AnyHeld(m_keyPressed, kFirstC, kLastC);
    case CaptureD:
        return !AnyHeld(m_keyPressed, kFirstD, kCodeOfD6);
    default:
        return false;
    }
}

CombinationKeys KeyCapture::Combination() const
{
    CombinationKeys keys;
    keys.m_dKeys = BitsOf(m_keyInCombination, kFirstD, kLastD);
    keys.m_cKeys = BitsOf(m_keyInCombination, kFirstC, kLastC);
    keys.m_tKeys = BitsOf(m_keyInCombination, kFirstT, kLastT);
    keys.m_routingKey = RoutingIndexOf(m_keyInCombination);
    return keys;
}

void KeyCapture::NextCombination()
{
    memset(m_keyInCombination, 0, sizeof m_keyInCombination);
    m_captureGroup = CaptureNone;
}

void KeyCapture::ReleaseAll()
{
    memset(m_keyPressed, 0, sizeof m_keyPressed);
    NextCombination();
}

bool KeyCapture::IsKeyCode(uint8_t code)
{
    return GroupOf(code) != KeyGroup::None;
}
