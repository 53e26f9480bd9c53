// Placeholder until key capture lands.
#include "../link/CCellivantaDisplay.h"
bool CCellivantaDisplay::ProcessKeyDownMsg(BYTE) { return false; }
bool CCellivantaDisplay::ProcessKeyUpMsg(BYTE) { return false; }
void CCellivantaDisplay::EnqueueKeyCombination() {}
