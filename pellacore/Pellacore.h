// The functions that the driver's setup package calls. All use the
// Windows API calling convention, are exported by their plain names (see
// Pellacore.def) and answer 1 for success or a true answer, 0 otherwise.
#pragma once

#include <windows.h>

extern "C" {

// 1 when this 32-bit library runs on 64-bit Windows.
int WINAPI Is64BitsOS();

// Copies the folder where the screen reader looks for braille drivers of
// other makers into szFolder (nFolderSize bytes, terminator included).
// 0 when the folder has a character that the code page lacks.
int WINAPI GetThirdPartyFolderFromRegistry(int nFolderSize, char* szFolder);

// The same folder as wide text (nFolderSize characters, terminator
// included), whatever characters it has: what a Unicode setup calls. 2 when
// the value is there but names no usable folder (not text, too long, or
// through a variable the system does not define), so that the setup can say
// so rather than that JAWS is missing.
int WINAPI GetThirdPartyFolderFromRegistryW(int nFolderSize, wchar_t* szFolder);

// Readies the folder the elevated setup installs into (SetupFolder.h):
// answers a SetupFolderResult; *phFolder receives the handle that holds the
// folder (for the setup to close when it is done), *pdwError the platform's
// error when the answer is kSetupFolderFailed.
int WINAPI SecureSetupFolder(const wchar_t* szFolder, HANDLE* phFolder, DWORD* pdwError);

// The SHA-256 of a file of at most 1 MB (a key map) as lower-case
// hexadecimal text in szHex (nHexSize characters, 65 with the terminator).
int WINAPI Sha256OfFile(const wchar_t* szPath, int nHexSize, wchar_t* szHex);

// Takes the renames of szFolder's files named in szNames ("|" after each)
// out of those Windows does at its next start: what an install left for a
// restart, cancelled by its uninstaller. The number taken out, -1 when the
// renames could not be written back.
int WINAPI CancelSetupRenames(const wchar_t* szFolder, const wchar_t* szNames);

// Opens the setup's log (SetupLog.h): szLog, the file the caller named, or,
// when szFolderIn is not empty, a new one in a new folder made there.
// Answers a SetupLogResult; szLogPath (nPathSize characters) receives the
// log's path, *phLog the handle that writes it (held until the setup ends),
// *pdwError the platform's error when the answer is kSetupLogFailed.
int WINAPI OpenSetupLog(const wchar_t* szLog, const wchar_t* szFolderIn, int nPathSize, wchar_t* szLogPath,
                        HANDLE* phLog, DWORD* pdwError);

// Writes szLine and a line end into the log opened by OpenSetupLog, in UTF-8.
int WINAPI WriteSetupLog(HANDLE hLog, const wchar_t* szLine);

// 1 when the setup runs as the local SYSTEM account.
int WINAPI RunsAsSystem();

// Whether the disk that szFolder is on, or will be made on, has dwKilobytes
// free: 1 when it has, 0 when it has not (*pdwFree receives the kilobytes it
// has), -1 when that cannot be told.
int WINAPI HasRoomFor(const wchar_t* szFolder, DWORD dwKilobytes, DWORD* pdwFree);

// Lists the COM ports as "COM1;COM3;" in szPortList, leaving out the display's
// USB virtual COM port, which goes into szUsbPort when it is known.
int WINAPI EnumComPorts(int nPortListSize, char* szPortList, int nUsbPortSize, char* szUsbPort);

// As EnumComPorts, with the display's USB device key given by the caller.
int WINAPI EnumComPortsEx(const char* szUsbDeviceKey, int nPortListSize, char* szPortList,
                          int nUsbPortSize, char* szUsbPort);

// Asks a running PC emulator to close; 1 when its window was found.
int WINAPI KillPcEmulator();

}
