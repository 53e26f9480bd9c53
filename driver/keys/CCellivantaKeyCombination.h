// A combination of the Cellivanta VK: D, T and C keys plus a routing key.
#pragma once

#include "CKeyCombination.h"

class CCellivantaKeyCombination : public CKeyCombination {
public:
    bool IsTypingCombination() override;
    bool TranslateKeyCombination(std::string& sKeyComb) override;
    virtual void SetCKeys(DWORD bits) { m_cKeys = bits; }

    // Keys of each group, named D1..D9, T1..T4 and C1..C6.
    static constexpr int kDKeyCount = 9;
    static constexpr int kTKeyCount = 4;
    static constexpr int kCKeyCount = 6;

    DWORD m_cKeys = 0;
};
