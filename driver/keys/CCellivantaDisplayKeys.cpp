// Members of the display class kept with the keys they handle: built into the
// display link library (see driver/CMakeLists.txt), not the keys library.
// The display's key handlers: the key capture (KeyCapture) decides when a
// combination is complete, and the record goes into the queue.
#include "CCellivantaDisplay.h"

#include "Trace.h"
#include "CCellivantaKeyCombination.h"
#include "CellivantaKeyCodes.h"

#include <new>

namespace {

// The dot keys pressed spell what the user types, even counted: only the
// other keys are traced here (the combination is traced when translated).
void TraceKey(const char* where, BYTE keyCode)
{
    using namespace CellivantaKeyCodes;
    if (keyCode < kFirstD || keyCode > kLastD)
        Trace("%s -> keyCode = %u", where, keyCode);
}

}  // namespace

bool CCellivantaDisplay::ProcessKeyDownMsg(BYTE keyCode)
{
    TraceKey("CCellivantaDisplay::ProcessKeyDownMsg", keyCode);
    m_input.KeyDown(keyCode);
    return true;
}

bool CCellivantaDisplay::ProcessKeyUpMsg(BYTE keyCode)
{
    TraceKey("CCellivantaDisplay::ProcessKeyUpMsg", keyCode);
    m_input.KeyUp(keyCode);
    return true;
}

// Called while the key capture still holds the finished combination; the
// capture starts afresh after it, whether the record was made or not.
void CCellivantaDisplay::EnqueueKeyCombination()
{
    const CombinationKeys keys = m_input.Capture().Combination();
    try {
        std::unique_ptr<CCellivantaKeyCombination> record(new CCellivantaKeyCombination);
        record->SetDKeys(keys.m_dKeys);
        record->SetCKeys(keys.m_cKeys);
        record->SetTKeys(keys.m_tKeys);
        record->SetRoutingKey(keys.m_routingKey);
        m_keyCombinationQueue.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        Trace("CCellivantaDisplay::EnqueueKeyCombination -> out of memory, combination dropped");
    }
}

void CCellivantaDisplay::InputReceiver::OnFrame(int messageId, const uint8_t* payload)
{
    m_display.ProcessDeviceMessage(messageId, payload);
}

void CCellivantaDisplay::InputReceiver::OnKeyDown(uint8_t code)
{
    m_display.ProcessKeyDownMsg(code);
}

void CCellivantaDisplay::InputReceiver::OnKeyUp(uint8_t code)
{
    m_display.ProcessKeyUpMsg(code);
}

void CCellivantaDisplay::InputReceiver::OnCombination(const CombinationKeys&)
{
    m_display.EnqueueKeyCombination();
}

// A typing modifier the damaged frames may have made is dropped too.
void CCellivantaDisplay::InputReceiver::OnCaptureRestart()
{
    ForgetPendingModifier();
}
