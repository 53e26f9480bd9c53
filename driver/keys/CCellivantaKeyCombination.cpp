// Placeholder until the translation lands.
#include "CCellivantaKeyCombination.h"
bool CCellivantaKeyCombination::GetKeysForWindowEyes(DWORD&, DWORD&, DWORD&, DWORD&, BYTE&) { return true; }
bool CCellivantaKeyCombination::IsTypingCombination() { return false; }
bool CCellivantaKeyCombination::TranslateKeyCombination(std::string& s) { s.clear(); return false; }
