#include "CCellivantaKeyCombination.h"

#include "CombinationKeys.h"

bool CCellivantaKeyCombination::IsTypingCombination()
{
    return CKeyCombination::IsTypingCombination() && m_cKeys == 0;
}

// The names are the key map file's keys: D keys, then T keys, then C keys,
// then "Routing" (the index is passed apart from the name).
bool CCellivantaKeyCombination::TranslateKeyCombination(std::string& sKeyComb)
{
    CombinationKeys keys;
    keys.m_dKeys = m_dKeys;
    keys.m_tKeys = m_tKeys;
    keys.m_cKeys = m_cKeys;
    keys.m_routingKey = m_routingKey;
    sKeyComb = keys.Name();
    return !sKeyComb.empty();
}
