// The keys of one key combination of the display and the name the key map
// file knows it by. No platform types: the driver, vkkeys and the native
// fuzz targets share it.
#pragma once

#include <cstdint>
#include <string>

struct CombinationKeys {
    // The key map file's sections, where a combination is looked up by name.
    static constexpr const char* kSectionModifiers = "Typing Modifiers";
    static constexpr const char* kSectionTyping = "Typing";
    static constexpr const char* kSectionFunctionKeys = "Function Keys";

    // Keys of each group, named D1..D9, T1..T4 and C1..C6.
    static constexpr int kDKeyCount = 9;
    static constexpr int kTKeyCount = 4;
    static constexpr int kCKeyCount = 6;

    uint32_t m_dKeys = 0;       // bit 0 = D1 ... bit 8 = D9 (space)
    uint32_t m_tKeys = 0;       // bit 0 = T1 ... bit 3 = T4
    uint32_t m_cKeys = 0;       // bit 0 = C1 ... bit 5 = C6
    uint32_t m_routingKey = 0;  // routing index 1..80, 0 = none

    // D keys, then T keys, then C keys, then "Routing", joined by "+"; the
    // routing index is passed apart from the name. Empty for no key.
    std::string Name() const;

    bool operator==(const CombinationKeys& o) const
    {
        return m_dKeys == o.m_dKeys && m_tKeys == o.m_tKeys && m_cKeys == o.m_cKeys && m_routingKey == o.m_routingKey;
    }
};
