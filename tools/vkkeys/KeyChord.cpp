#include "KeyChord.h"

#include "ComputerBraille.h"
#include "TextUtil.h"

namespace {

const DWORD kSpaceBit = 0x100;  // D9

enum Group { GroupD, GroupT, GroupC, GroupRouting };

struct OneKey {
    Group group;
    DWORD bit;
};

std::vector<OneKey> AllKeys()
{
    using K = CCellivantaKeyCombination;
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

// Adds one key to the record (the setters replace a whole group).
void AddKey(CCellivantaKeyCombination& keys, const OneKey& key)
{
    switch (key.group) {
    case GroupD: keys.SetDKeys(keys.m_dKeys | key.bit); break;
    case GroupT: keys.SetTKeys(keys.m_tKeys | key.bit); break;
    case GroupC: keys.SetCKeys(keys.m_cKeys | key.bit); break;
    case GroupRouting: keys.SetRoutingKey(1); break;
    }
}

}  // namespace

// The names come from the driver's naming of each key alone.
const std::vector<std::string>& KeyChord::KeyNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const OneKey& key : AllKeys()) {
            CCellivantaKeyCombination one;
            AddKey(one, key);
            std::string name;
            one.TranslateKeyCombination(name);
            all.push_back(name);
        }
        return all;
    }();
    return names;
}

bool KeyChord::Parse(const std::string& text)
{
    m_keys = CCellivantaKeyCombination();
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
    m_keys.TranslateKeyCombination(m_name);
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
