// The driver object: its construction, and the screen reader's calls that
// only answer from what the driver knows (names, identity, callbacks).
#include "CBrailleDisplayDriver.h"
#include "Trace.h"

#include <cstring>

HINSTANCE g_hDriverInstance = nullptr;

// The driver's own identity for the screen reader; fixed for the life of the library.
const GUID CBrailleDisplayDriver::s_manufacturerGuid = {
    0x5c1e7a0b, 0x3d6f, 0x4b8a, {0x9e, 0x21, 0x7f, 0x04, 0xc2, 0xd9, 0xa6, 0x13}};

namespace {
const char kManufacturer[] = "Kelvadore";
}  // namespace

CBrailleDisplayDriver* CBrailleDisplayDriver::s_pDriver = nullptr;
BOOL(WINAPI* CBrailleDisplayDriver::s_postToWindow)(HWND, UINT, WPARAM, LPARAM) = PostMessageA;
EXECUTION_STATE(WINAPI* CBrailleDisplayDriver::s_keepSystemAwake)(EXECUTION_STATE) = SetThreadExecutionState;

CBrailleDisplayDriver::CBrailleDisplayDriver()
{
    s_pDriver = this;
    TraceInit("VK.LOG");
}

CBrailleDisplayDriver::~CBrailleDisplayDriver()
{
    // The screen reader closes the driver before unloading it; only memory
    // and the events (by their types) are released here.
    if (s_pDriver == this)
        s_pDriver = nullptr;
}

IBrailleDriverCallbacks* CBrailleDisplayDriver::SetCallbacks(IBrailleDriverCallbacks* pCallbacks)
{
    Trace("CBrailleDisplayDriver::SetCallbacks -> %p", static_cast<void*>(pCallbacks));
    return m_pCallbacks.exchange(pCallbacks);
}

// Copies at most cbMaxLength bytes, zero-filling the rest, and always
// terminates: a longer name is cut to cbMaxLength - 1 characters.
int CBrailleDisplayDriver::CopyName(const char* name, char* lpszName, int cbMaxLength)
{
    if (!lpszName || cbMaxLength <= 0)
        return 0;
    strncpy(lpszName, name, static_cast<size_t>(cbMaxLength));
    lpszName[cbMaxLength - 1] = '\0';
    return static_cast<int>(strlen(lpszName));
}

int CBrailleDisplayDriver::GetDisplayName(char* lpszName, int cbMaxLength)
{
    Trace("CBrailleDisplayDriver::GetDisplayName -> %s", m_szDisplayName);
    return CopyName(m_szDisplayName, lpszName, cbMaxLength);
}

int CBrailleDisplayDriver::GetDriverName(char* lpszName, int cbMaxLength)
{
    Trace("CBrailleDisplayDriver::GetDriverName -> %s", m_szDriverName);
    return CopyName(m_szDriverName, lpszName, cbMaxLength);
}

// The key map name is given whole or not at all.
int CBrailleDisplayDriver::GetDisplayKeyMapName(char* lpszName, int cbMaxLength)
{
    Trace("CBrailleDisplayDriver::GetDisplayKeyMapName -> %s", m_szKeyMapName);
    if (!lpszName || cbMaxLength <= 0)
        return 0;
    const size_t length = strlen(m_szKeyMapName);
    if (static_cast<size_t>(cbMaxLength) < length + 1) {
        lpszName[0] = '\0';
        return 0;
    }
    memcpy(lpszName, m_szKeyMapName, length + 1);
    return static_cast<int>(length);
}

BOOL CBrailleDisplayDriver::SupportsFirmnessSetting(int* pnLevels)
{
    Trace("CBrailleDisplayDriver::SupportsFirmnessSetting -> %d", pnLevels ? *pnLevels : 0);
    return FALSE;
}

BOOL CBrailleDisplayDriver::SetFirmness(int nFirmness)
{
    Trace("CBrailleDisplayDriver::SetFirmness -> %d", nFirmness);
    return FALSE;
}

BOOL CBrailleDisplayDriver::GetManufacturerInfo(char* lpszName, int cbMaxNameLen, GUID* lpguidUnique)
{
    if (!lpszName || !lpguidUnique || cbMaxNameLen <= 0) {
        Trace("GetManufacturerInfo failed");
        return FALSE;
    }
    if (static_cast<size_t>(cbMaxNameLen) >= sizeof kManufacturer)
        memcpy(lpszName, kManufacturer, sizeof kManufacturer);
    else
        lpszName[0] = '\0';
    *lpguidUnique = s_manufacturerGuid;
    Trace("CBrailleDisplayDriver::GetManufacturerInfo -> %s", lpszName);
    return TRUE;
}
