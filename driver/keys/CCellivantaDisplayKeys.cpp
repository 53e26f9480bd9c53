// Members of the display class kept with the keys they handle: built into the
// display link library (see driver/CMakeLists.txt), not the keys library.
// Key capture of the display: which keys are held, when a combination is
// complete, and the record that goes into the queue.
#include "CCellivantaDisplay.h"
#include "CellivantaKeyCodes.h"

#include "Trace.h"
#include "CCellivantaKeyCombination.h"

#include <cstring>
#include <new>

namespace {

using namespace CellivantaKeyCodes;
const int kLastDotKey = 7;  // D1..D6 end a D combination
// D7, D8 and the space key may be held across combinations (capitals, space chords).
const int kCarriedKeys[] = {8, 9, 10};

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

bool AnyHeld(const BYTE* table, int first, int last)
{
    for (int code = first; code <= last; ++code)
        if (table[code])
            return true;
    return false;
}

// Bit (code - first) for each flagged code of the range.
DWORD BitsOf(const BYTE* table, int first, int last)
{
    DWORD bits = 0;
    for (int code = first; code <= last; ++code)
        if (table[code])
            bits |= 1u << (code - first);
    return bits;
}

// Only one routing key is ever flagged; should there be more, the highest wins.
DWORD RoutingIndexOf(const BYTE* table)
{
    DWORD index = 0;
    for (int code = kFirstRouting; code <= kLastRouting; ++code)
        if (table[code])
            index = static_cast<DWORD>(code - kFirstRouting + 1);
    return index;
}

// The dot keys pressed spell what the user types, even counted: only the
// other keys are traced here (the combination is traced when translated).
void TraceKey(const char* where, BYTE keyCode)
{
    if (GroupOf(keyCode) != KeyGroup::D)
        Trace("%s -> keyCode = %u", where, keyCode);
}

}  // namespace

bool CCellivantaDisplay::ProcessKeyDownMsg(BYTE keyCode)
{
    TraceKey("CCellivantaDisplay::ProcessKeyDownMsg", keyCode);
    m_keyPressed[keyCode] = 1;
    m_keyInCombination[keyCode] = 1;
    if (m_captureGroup == CaptureNone)
        for (int code : kCarriedKeys)
            m_keyInCombination[code] = m_keyPressed[code];
    switch (GroupOf(keyCode)) {
    case KeyGroup::Routing:
        // Routing keys act on the press and never count as held.
        EnqueueKeyCombination();
        m_keyPressed[keyCode] = 0;
        break;
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
    return true;
}

// The combination is complete when the last key of the deciding group goes
// up; D7, D8 and the space key do not hold a D combination open.
bool CCellivantaDisplay::ProcessKeyUpMsg(BYTE keyCode)
{
    TraceKey("CCellivantaDisplay::ProcessKeyUpMsg", keyCode);
    m_keyPressed[keyCode] = 0;
    bool complete = false;
    switch (m_captureGroup) {
    case CaptureT:
        complete = !AnyHeld(m_keyPressed, kFirstT, kLastT);
        break;
    case CaptureC:
        complete = !AnyHeld(m_keyPressed, kFirstC, kLastC);
        break;
    case CaptureD:
        complete = !AnyHeld(m_keyPressed, kFirstD, kLastDotKey);
        break;
    default:
        break;
    }
    if (complete)
        EnqueueKeyCombination();
    return true;
}

void CCellivantaDisplay::EnqueueKeyCombination()
{
    try {
        std::unique_ptr<CCellivantaKeyCombination> record(new CCellivantaKeyCombination);
        record->SetDKeys(BitsOf(m_keyInCombination, kFirstD, kLastD));
        record->SetCKeys(BitsOf(m_keyInCombination, kFirstC, kLastC));
        record->SetTKeys(BitsOf(m_keyInCombination, kFirstT, kLastT));
        record->SetRoutingKey(RoutingIndexOf(m_keyInCombination));
        m_keyCombinationQueue.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        Trace("CCellivantaDisplay::EnqueueKeyCombination -> out of memory, combination dropped");
    }
    // Capture starts afresh; keys still held stay held.
    memset(m_keyInCombination, 0, sizeof m_keyInCombination);
    m_captureGroup = CaptureNone;
}

// After a damaged key frame or on a new connection the held keys cannot be
// trusted: their key-ups may never come, and a held key would join or hold
// back every combination the user makes.
void CCellivantaDisplay::ResetHeldKeys()
{
    memset(m_keyPressed, 0, sizeof m_keyPressed);
    memset(m_keyInCombination, 0, sizeof m_keyInCombination);
    m_captureGroup = CaptureNone;
}

void CCellivantaDisplay::ResetKeyCapture()
{
    ResetHeldKeys();
    ForgetPendingModifier();
}

bool CCellivantaDisplay::IsKeyCode(BYTE code)
{
    return GroupOf(code) != KeyGroup::None;
}
