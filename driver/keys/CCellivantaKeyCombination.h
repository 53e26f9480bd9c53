// A combination of the Cellivanta VK: D, T and C keys plus a routing key.
#pragma once

#include "CKeyCombination.h"
#include "CombinationKeys.h"

class CCellivantaKeyCombination : public CKeyCombination {
public:
    bool IsTypingCombination() override;
    bool TranslateKeyCombination(std::string& sKeyComb) override;
    virtual void SetCKeys(DWORD bits) { m_cKeys = bits; }

    // Keys of each group, named D1..D9, T1..T4 and C1..C6.
    static constexpr int kDKeyCount = CombinationKeys::kDKeyCount;
    static constexpr int kTKeyCount = CombinationKeys::kTKeyCount;
    static constexpr int kCKeyCount = CombinationKeys::kCKeyCount;

    DWORD m_cKeys = 0;
};
