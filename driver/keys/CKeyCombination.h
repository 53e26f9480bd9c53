// One completed key combination of the display, and its naming and
// translation through the key map file.
#pragma once

#include "CombinationKeys.h"

#include <windows.h>
#include <string>

class CKeyCombination {
public:
    CKeyCombination() = default;

    virtual void SetDKeys(DWORD bits) { m_dKeys = bits; }
    virtual void SetTKeys(DWORD bits) { m_tKeys = bits; }
    virtual void SetRoutingKey(DWORD index) { m_routingKey = index; }
    virtual bool TranslateForJaws(const char* szIniFileName, const char* szPending, char* szKeyComb,
                                          int& nKeyCombLen, int& nRoutingIndex, WORD& woBrailleDots,
                                          BYTE& isModifier);
    virtual bool IsTypingCombination();
    virtual bool TranslateKeyCombination(std::string& sKeyComb) = 0;
    virtual bool ReadKeyMapValue(const char* szIniFileName, const char* section, const char* key,
                                         std::string& value);
    virtual ~CKeyCombination() = default;

    // The key map file's sections, and the size of the buffer each value is
    // read into (longer values are cut to one less than this).
    static constexpr const char* kSectionModifiers = CombinationKeys::kSectionModifiers;
    static constexpr const char* kSectionTyping = CombinationKeys::kSectionTyping;
    static constexpr const char* kSectionFunctionKeys = CombinationKeys::kSectionFunctionKeys;
    static constexpr DWORD kKeyMapValueSize = 500;
    // A pending modifier that holds this text (case as written) sends the next
    // combination to the function key section.
    static constexpr const char* kFunctionModifier = "Function";

    DWORD m_dKeys = 0;
    DWORD m_tKeys = 0;
    DWORD m_routingKey = 0;

protected:
    // Where a combination ends up after the key map lookups.
    enum class Outcome { Dropped, Modifier, OwnName, Composed };

    Outcome LookUp(const char* szIniFileName, const std::string& pending, char* szKeyComb, int nKeyCombLen,
                   std::string& name, bool& isTyping);
    static Outcome StoreModifier(const std::string& value, char* szKeyComb, int nKeyCombLen,
                                 const std::string& name);
    Outcome ComposeFunctionKey(const char* szIniFileName, const std::string& pending, std::string& name,
                               bool& isTyping);
    Outcome ComposeKeyboardKey(const char* szIniFileName, const std::string& pending, std::string& name,
                               bool& isTyping);
    static bool WriteName(const std::string& name, char* szKeyComb, int& nKeyCombLen);
};
