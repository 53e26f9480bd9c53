// Placeholder until the translation lands.
#include "../link/CSerialBrailleDisplay.h"
bool CSerialBrailleDisplay::HasKeyCombination() { return !m_keyCombinationQueue.empty(); }
bool CSerialBrailleDisplay::TranslateKeyCombinationForJaws(const char*, char*, int&, int&, WORD&) { return false; }
bool CSerialBrailleDisplay::TranslateKeyCombinationForWindowEyes(DWORD&, DWORD&, DWORD&, DWORD&, BYTE&) { return false; }
