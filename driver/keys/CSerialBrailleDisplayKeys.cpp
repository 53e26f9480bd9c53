// Members of the display class kept with the keys they handle: built into the
// display link library (see driver/CMakeLists.txt), not the keys library.
// The key combination queue of the display base: taking the oldest record
// off and translating it for the screen reader.
#include "CSerialBrailleDisplay.h"

#include "Trace.h"

#include <new>
#include <string>

namespace {

// The typing modifier waiting for the combination it applies to. One for the
// whole library, built when it loads (a guarded local would cost the thread
// runtime a slot at every load); nothing reaches it before the first key.
std::string g_pendingModifier;

std::string& PendingModifier()
{
    return g_pendingModifier;
}

const char* OrNull(const char* text)
{
    return text ? text : "(null)";
}

// True when the outputs hold something for the screen reader. A modifier is
// kept for the next combination instead of being delivered.
bool TranslateRecord(CKeyCombination& record, const char* szIniFileName, char* szKeyComb, int& nKeyCombLen,
                     int& nRoutingIndex, WORD& woBrailleDots)
{
    BYTE isModifier = 0;
    std::string& pending = PendingModifier();
    if (!record.TranslateForJaws(szIniFileName, pending.c_str(), szKeyComb, nKeyCombLen, nRoutingIndex,
                                 woBrailleDots, isModifier))
        return false;
    Trace("CSerialBrailleDisplay::TranslateKeyCombinationForJaws -> szIniFileName = %s, szKeyComb = %s, "
          "nKeyCombLen = %d, nRoutingIndex = %d, dots: %s",
          OrNull(szIniFileName), nKeyCombLen > 0 || isModifier ? szKeyComb : "", nKeyCombLen, nRoutingIndex,
          woBrailleDots ? "yes" : "no");  // the dots are the typed character
    if (isModifier) {
        pending = szKeyComb;  // a later modifier replaces it
        return false;
    }
    pending.clear();
    return true;
}

}  // namespace

void CSerialBrailleDisplay::ForgetPendingModifier()
{
    PendingModifier().clear();
}

void CSerialBrailleDisplay::ForgetKeyCombinations()
{
    m_keyCombinationQueue.clear();
}

bool CSerialBrailleDisplay::HasKeyCombination()
{
    return !m_keyCombinationQueue.empty();
}

bool CSerialBrailleDisplay::TranslateKeyCombinationForJaws(const char* szIniFileName, char* szKeyComb,
                                                           int& nKeyCombLen, int& nRoutingIndex,
                                                           WORD& woBrailleDots)
{
    if (m_keyCombinationQueue.empty())
        return false;
    // Taken off first: the record is destroyed whatever the outcome.
    std::unique_ptr<CKeyCombination> record = std::move(m_keyCombinationQueue.front());
    m_keyCombinationQueue.pop_front();
    try {
        return TranslateRecord(*record, szIniFileName, szKeyComb, nKeyCombLen, nRoutingIndex, woBrailleDots);
    } catch (const std::bad_alloc&) {
        Trace("CSerialBrailleDisplay::TranslateKeyCombinationForJaws -> out of memory, combination dropped");
        return false;
    }
}

