// The screen reader's braille driver interface and its callback interface.
// The screen reader calls both through their virtual tables, so the order of
// the declarations below is the slot order and must never change. The driver
// and the screen-reader stand-in both include this header; nothing else may
// describe the layout.
#pragma once

#include <windows.h>

class IBrailleDriver;

class IBrailleDriverCallbacks {
public:
    /* 0 */ virtual int ProcessBrailleCommandKeys(IBrailleDriver* pDriver, const char* szKeyComb, int nRoutingKey) = 0;
    /* 1 */ virtual int ProcessEncodedTypeKey(IBrailleDriver* pDriver, const BYTE* pRecord, int nLength) = 0;
    /* 2 */ virtual WORD DotsToChar(IBrailleDriver* pDriver, WORD woBrailleDots) = 0;

protected:
    ~IBrailleDriverCallbacks() = default;
};

class IBrailleDriver {
public:
    /*  0 */ virtual BOOL Open(const char* lpszPort, IBrailleDriverCallbacks* pCallbacks,
                               const char* lpszDisplayName, const char* lpszDriverName) = 0;
    /*  1 */ virtual void Close() = 0;
    /*  2 */ virtual IBrailleDriverCallbacks* SetCallbacks(IBrailleDriverCallbacks* pCallbacks) = 0;
    /*  3 */ virtual int GetDisplayName(char* lpszName, int cbMaxLength) = 0;
    /*  4 */ virtual int GetDriverName(char* lpszName, int cbMaxLength) = 0;
    /*  5 */ virtual int GetDisplayKeyMapName(char* lpszName, int cbMaxLength) = 0;
    /*  6 */ virtual int GetInterfaceVersion() = 0;
    /*  7 */ virtual int GetDriverVersion() = 0;
    /*  8 */ virtual int GetDisplayVersion() = 0;
    /*  9 */ virtual BOOL HasIntegratedSpeech() = 0;
    /* 10 */ virtual int Reserved10(int nIgnored) = 0;
    /* 11 */ virtual BOOL ShowText(const char* cells, int count) = 0;
    /* 12 */ virtual BOOL ShowStatus(const char* cells, int count) = 0;
    /* 13 */ virtual BOOL Clear() = 0;
    /* 14 */ virtual int Reserved14(int nIgnored) = 0;
    /* 15 */ virtual int Reserved15(int nIgnored) = 0;
    /* 16 */ virtual BOOL Sleep(BOOL bSleep) = 0;
    /* 17 */ virtual void Reserved17(int nIgnored) = 0;
    /* 18 */ virtual int GetTextCellCount() = 0;
    /* 19 */ virtual int Reserved19(int nIgnored) = 0;
    /* 20 */ virtual int GetStatusCellCount() = 0;
    /* 21 */ virtual int GetTotalCellCount() = 0;
    /* 22 */ virtual BOOL SupportsCustomLayout() = 0;
    /* 23 */ virtual BOOL SetCustomLayout(int nTextDisplayStart, int nTextCells,
                                          int nStatusCellStart, int nStatusCells) = 0;
    /* 24 */ virtual int Reserved24(int nIgnored) = 0;
    /* 25 */ virtual int Reserved25(int nIgnored) = 0;
    /* 26 */ virtual int Reserved26(int nIgnored) = 0;
    /* 27 */ virtual BOOL SupportsFirmnessSetting(int* pnLevels) = 0;
    /* 28 */ virtual BOOL SetFirmness(int nFirmness) = 0;
    /* 29 */ virtual BOOL IsKeyWaiting() = 0;
    /* 30 */ virtual void SetOneHandedMode(int nMode) = 0;
    /* 31 */ virtual int GetTypeKeysMode() = 0;
    /* 32 */ virtual void SetTypeKeysMode(int nMode) = 0;
    /* 33 */ virtual BOOL SupportsTypeKeysMode() = 0;
    /* 34 */ virtual BOOL GetManufacturerInfo(char* lpszName, int cbMaxNameLen, GUID* lpguidUnique) = 0;
    /* 35 */ virtual void SetTriKeyProcessingMode(int nMode) = 0;
    /* 36 */ virtual void SetControlKeyProcessingMode(int nMode) = 0;
    /* 37 */ virtual int EncodedTypeKey(BYTE byKey) = 0;
    /* 38 */ virtual void ProcessKeyCombinationQueue() = 0;

protected:
    ~IBrailleDriver() = default;
};

// The library's only export.
extern "C" typedef IBrailleDriver* (*PFN_GetBrailleInterface)(IBrailleDriver** ppDriver);
