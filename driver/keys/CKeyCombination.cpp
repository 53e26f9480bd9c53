#include "CKeyCombination.h"

#include "Trace.h"

#include <cstring>

namespace {

const char kKeyboardPrefix[] = "qwerty:";

// "Function" pending plus the value 5 gives "F5": everything from the first
// "unction" on is replaced, so "Control+Function" gives "Control+F5".
std::string CutFunctionModifier(const std::string& pending, const std::string& value)
{
    return pending.substr(0, pending.find("unction")) + value;
}

bool FitsIn(const std::string& text, const char* buffer, int capacity)
{
    return buffer && capacity > 0 && text.size() < static_cast<size_t>(capacity);
}

}  // namespace

bool CKeyCombination::IsTypingCombination()
{
    // D9 (space) alone types a space; D9 with a dot key is a command.
    return m_routingKey == 0 && m_tKeys == 0 && m_dKeys <= 0x100;
}

bool CKeyCombination::ReadKeyMapValue(const char* szIniFileName, const char* section, const char* key,
                                      std::string& value)
{
    value.clear();
    if (!szIniFileName || !section || !key)
        return false;
    char buffer[kKeyMapValueSize];
    DWORD length = GetPrivateProfileStringA(section, key, "", buffer, kKeyMapValueSize, szIniFileName);
    if (length == 0)
        return false;
    value.assign(buffer, length);
    return true;
}

bool CKeyCombination::TranslateForJaws(const char* szIniFileName, const char* szPending, char* szKeyComb,
                                       int& nKeyCombLen, int& nRoutingIndex, WORD& woBrailleDots,
                                       BYTE& isModifier)
{
    woBrailleDots = 0;
    nRoutingIndex = 0;
    const std::string pending = szPending ? szPending : "";
    bool isTyping = IsTypingCombination();
    std::string name;
    Outcome outcome = Outcome::OwnName;
    if (TranslateKeyCombination(name) && szIniFileName)
        outcome = LookUp(szIniFileName, pending, szKeyComb, nKeyCombLen, name, isTyping);
    if (outcome == Outcome::Modifier) {
        isModifier = 1;
        return true;
    }
    if (outcome == Outcome::Dropped)
        return false;
    // A typing combination is delivered as its dots; its own name is not sent.
    if (isTyping && outcome == Outcome::OwnName)
        name.clear();
    if (!WriteName(name, szKeyComb, nKeyCombLen))
        return false;
    nRoutingIndex = static_cast<int>(m_routingKey);
    if (isTyping)
        woBrailleDots = static_cast<WORD>(m_dKeys & 0xFFFF);
    return true;
}

// The key map lookups of one named combination: a modifier is copied into
// szKeyComb at once; otherwise name becomes the keyboard name when one applies.
CKeyCombination::Outcome CKeyCombination::LookUp(const char* szIniFileName, const std::string& pending,
                                                 char* szKeyComb, int nKeyCombLen, std::string& name,
                                                 bool& isTyping)
{
    std::string value;
    if (ReadKeyMapValue(szIniFileName, kSectionModifiers, name.c_str(), value))
        return StoreModifier(value, szKeyComb, nKeyCombLen, name);
    if (pending.find(kFunctionModifier) != std::string::npos)
        return ComposeFunctionKey(szIniFileName, pending, name, isTyping);
    return ComposeKeyboardKey(szIniFileName, pending, name, isTyping);
}

// A modifier text that does not fit the buffer could not be handed back
// whole, so the combination is taken under its own name instead.
CKeyCombination::Outcome CKeyCombination::StoreModifier(const std::string& value, char* szKeyComb,
                                                        int nKeyCombLen, const std::string& name)
{
    if (!FitsIn(value, szKeyComb, nKeyCombLen)) {
        Trace("CKeyCombination::StoreModifier -> value of %s does not fit in %d bytes", name.c_str(),
              nKeyCombLen);
        return Outcome::OwnName;
    }
    memcpy(szKeyComb, value.c_str(), value.size() + 1);
    return Outcome::Modifier;
}

// While "Function" is pending only the function key list counts; anything
// else is dropped and the modifier keeps waiting.
CKeyCombination::Outcome CKeyCombination::ComposeFunctionKey(const char* szIniFileName, const std::string& pending,
                                                             std::string& name, bool& isTyping)
{
    std::string value;
    if (!ReadKeyMapValue(szIniFileName, kSectionFunctionKeys, name.c_str(), value))
        return Outcome::Dropped;
    name = kKeyboardPrefix + CutFunctionModifier(pending, value);
    isTyping = false;
    return Outcome::Composed;
}

CKeyCombination::Outcome CKeyCombination::ComposeKeyboardKey(const char* szIniFileName, const std::string& pending,
                                                             std::string& name, bool& isTyping)
{
    std::string value;
    if (ReadKeyMapValue(szIniFileName, kSectionTyping, name.c_str(), value)) {
        name = kKeyboardPrefix + (pending.empty() ? value : pending + "+" + value);
        isTyping = false;
        return Outcome::Composed;
    }
    if (isTyping && !pending.empty()) {
        // The modifier goes with the typed character, which keeps its dots.
        name = kKeyboardPrefix + pending;
        return Outcome::Composed;
    }
    return Outcome::OwnName;
}

// A name that does not fit the caller's buffer is refused whole: a cut
// keyboard name would make the screen reader press the wrong key.
bool CKeyCombination::WriteName(const std::string& name, char* szKeyComb, int& nKeyCombLen)
{
    if (FitsIn(name, szKeyComb, nKeyCombLen)) {
        memcpy(szKeyComb, name.c_str(), name.size() + 1);
        nKeyCombLen = static_cast<int>(name.size());
        return true;
    }
    const int capacity = nKeyCombLen;
    nKeyCombLen = 0;
    if (name.empty())
        return true;  // dots only, and no room even for a terminator
    if (szKeyComb && capacity > 0)
        szKeyComb[0] = '\0';
    Trace("CKeyCombination::WriteName -> %u characters do not fit in %d bytes, combination dropped",
          static_cast<unsigned>(name.size()), capacity);
    return false;
}
