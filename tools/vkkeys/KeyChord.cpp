#include "KeyChord.h"

#include "ComputerBraille.h"
#include "TextUtil.h"

namespace {

const uint32_t kSpaceBit = 0x100;  // D9

enum Group { GroupD, GroupT, GroupC, GroupRouting };

struct OneKey {
    Group group;
    uint32_t bit;
};

std::vector<OneKey> AllKeys()
{
    using K = CombinationKeys;
    std::vector<OneKey> keys;
    for (int n = 0; n < K::kDKeyCount; ++n)
        keys.push_back({GroupD, 1u << n});
    for (int n = 0; n < K::kTKeyCount; ++n)
        keys.push_back({GroupT, 1u << n});
    for (int n = 0; n < K::kCKeyCount; ++n)
        keys.push_back({GroupC, 1u << n});
    keys.push_back({GroupRouting, 1});
    return keys;
}

void AddKey(CombinationKeys& keys, const OneKey& key)
{
    switch (key.group) {
    case GroupD: keys.m_dKeys |= key.bit; break;
    case GroupT: keys.m_tKeys |= key.bit; break;
    case GroupC: keys.m_cKeys |= key.bit; break;
    case GroupRouting: keys.m_routingKey = 1; break;
    }
}

}  // namespace

// The names come from the driver's naming of each key alone.
const std::vector<std::string>& KeyChord::KeyNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const OneKey& key : AllKeys()) {
            CombinationKeys one;
            AddKey(one, key);
            all.push_back(one.Name());
        }
        return all;
    }();
    return names;
}

bool KeyChord::Parse(const std::string& text)
{
    m_keys = CombinationKeys();
    m_name.clear();
    m_badKey.clear();
    const std::vector<OneKey> keys = AllKeys();
    for (const std::string& word : text::Split(text, '+')) {
        const std::string token = text::Trim(word);
        size_t i = 0;
        while (i < keys.size() && !text::EqualNoCase(token, KeyNames()[i]))
            ++i;
        if (i == keys.size()) {
            m_badKey = token;
            return false;
        }
        AddKey(m_keys, keys[i]);
    }
    m_name = m_keys.Name();
    return true;
}

bool KeyChord::IsDotChord() const
{
    return m_keys.m_dKeys != 0 && m_keys.m_tKeys == 0 && m_keys.m_cKeys == 0 && m_keys.m_routingKey == 0;
}

std::string KeyChord::Braille() const
{
    if (!IsDotChord())
        return "";
    const bool space = (m_keys.m_dKeys & kSpaceBit) != 0;
    const uint8_t dots = static_cast<uint8_t>(m_keys.m_dKeys & 0xFF);
    if (dots == 0)
        return space ? "space" : "";
    const char c = ComputerBraille::DotsToChar(dots);
    if (c <= ' ' || c > '~')
        return "";
    return std::string(1, c) + (space ? "+space" : "");
}
