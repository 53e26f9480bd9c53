#include "CombinationKeys.h"

namespace {

// Appends prefix1, prefix2, ... for each set bit of the group, each name
// after the first one of the whole combination preceded by "+".
void AppendKeyNames(std::string& name, uint32_t bits, char prefix, int count)
{
    for (int n = 0; n < count; ++n) {
        if (!(bits & (1u << n)))
            continue;
        if (!name.empty())
            name += '+';
        name += prefix;
        name += static_cast<char>('1' + n);
    }
}

}  // namespace

std::string CombinationKeys::Name() const
{
    std::string name;
    AppendKeyNames(name, m_dKeys, 'D', kDKeyCount);
    AppendKeyNames(name, m_tKeys, 'T', kTKeyCount);
    AppendKeyNames(name, m_cKeys, 'C', kCKeyCount);
    if (m_routingKey != 0)
        name += name.empty() ? "Routing" : "+Routing";
    return name;
}
