// A combination of the Cellivanta VK: D, T and C keys plus a routing key.
#pragma once

#include "CKeyCombination.h"

class CCellivantaKeyCombination : public CKeyCombination {
public:
    bool GetKeysForWindowEyes(DWORD& key1, DWORD& key2, DWORD& routingKey, DWORD& doubleRoutingKey,
                              BYTE& routingOverStatusCell) override;
    bool IsTypingCombination() override;
    bool TranslateKeyCombination(std::string& sKeyComb) override;
    virtual void SetCKeys(DWORD bits) { m_cKeys = bits; }

    DWORD m_cKeys = 0;
};
