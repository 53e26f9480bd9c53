// Placeholder until the translation lands.
#include "CKeyCombination.h"
bool CKeyCombination::GetKeysForWindowEyes(DWORD&, DWORD&, DWORD&, DWORD&, BYTE&) { return true; }
bool CKeyCombination::TranslateForJaws(const char*, const char*, char*, int&, int&, WORD&, BYTE&) { return false; }
bool CKeyCombination::IsTypingCombination() { return false; }
bool CKeyCombination::ReadKeyMapValue(const char*, const char*, const char*, std::string& v) { v.clear(); return false; }
