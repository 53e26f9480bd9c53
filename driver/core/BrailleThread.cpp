// Placeholder: the braille thread and its commands.
#include "CBrailleDisplayDriver.h"
BOOL CBrailleDisplayDriver::Open(const char*, IBrailleDriverCallbacks*, const char*, const char*) { return FALSE; }
void CBrailleDisplayDriver::Close() {}
BOOL CBrailleDisplayDriver::ShowText(const char*, int) { return FALSE; }
BOOL CBrailleDisplayDriver::ShowStatus(const char*, int) { return FALSE; }
BOOL CBrailleDisplayDriver::Clear() { return FALSE; }
BOOL CBrailleDisplayDriver::Sleep(BOOL) { return FALSE; }
int CBrailleDisplayDriver::EncodedTypeKey(BYTE) { return 0; }
void CBrailleDisplayDriver::ProcessKeyCombinationQueue() {}
