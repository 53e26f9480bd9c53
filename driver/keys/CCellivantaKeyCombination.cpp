#include "CCellivantaKeyCombination.h"

namespace {

// Appends prefix1, prefix2, ... for each set bit of the group, each name
// after the first one of the whole combination preceded by "+".
void AppendKeyNames(std::string& sKeyComb, DWORD bits, char prefix, int count)
{
    for (int n = 0; n < count; ++n) {
        if (!(bits & (1u << n)))
            continue;
        if (!sKeyComb.empty())
            sKeyComb += '+';
        sKeyComb += prefix;
        sKeyComb += static_cast<char>('1' + n);
    }
}

}  // namespace

bool CCellivantaKeyCombination::IsTypingCombination()
{
    return CKeyCombination::IsTypingCombination() && m_cKeys == 0;
}

// The names are the key map file's keys: D keys, then T keys, then C keys,
// then "Routing" (the index is passed apart from the name).
bool CCellivantaKeyCombination::TranslateKeyCombination(std::string& sKeyComb)
{
    sKeyComb.clear();
    AppendKeyNames(sKeyComb, m_dKeys, 'D', kDKeyCount);
    AppendKeyNames(sKeyComb, m_tKeys, 'T', kTKeyCount);
    AppendKeyNames(sKeyComb, m_cKeys, 'C', kCKeyCount);
    if (m_routingKey != 0)
        sKeyComb += sKeyComb.empty() ? "Routing" : "+Routing";
    return !sKeyComb.empty();
}
