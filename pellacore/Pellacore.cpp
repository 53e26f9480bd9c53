// Pellacore.dll: the setup extension library. No state of its own: every
// export works on its arguments, the registry, the platform's device list or
// a window, and writes nothing but the caller's buffers.
#include "Pellacore.h"

#include "CComPortList.h"
#include "CRegistryKey.h"
#include "CUsbPortFinder.h"
#include "SetupFiles.h"
#include "SetupFolder.h"
#include "SetupLog.h"
#include "SystemLibrary.h"
#include "TextBuffer.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

const char kThirdPartyBrailleKey[] = "Software\\Freedom Scientific\\ThirdPartyBraille\\1.0";
const DWORD kMaxTarget = 260;
const char kDisplayUsbKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1c71&Pid_c004";
const std::size_t kPathLimit = 489;
const std::size_t kPathLimitEx = 1489;
const DWORD kMaxDosDevices = 65535;
const char kEmulatorWindow[] = "PDIHooks";

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

bool IsWindowsNT()
{
    OSVERSIONINFOA versionInfo = {};
    versionInfo.dwOSVersionInfoSize = sizeof versionInfo;
    return GetVersionExA(&versionInfo) && versionInfo.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Adds the COM ports of the platform's MS-DOS device names to the list.
bool AddDosDevicePorts(CComPortList& list, const char* szExclude)
{
    std::unique_ptr<char[]> devices(new (std::nothrow) char[kMaxDosDevices]);
    if (!devices)
        return false;
    DWORD cchDevices = QueryDosDeviceA(nullptr, devices.get(), kMaxDosDevices);
    if (cchDevices == 0)
        return false;
    list.AddPorts(devices.get(), cchDevices, szExclude);
    return true;
}

int EnumeratePorts(const char* szDeviceKey, std::size_t cchPathLimit, int nPortListSize,
                   char* szPortList, int nUsbPortSize, char* szUsbPort)
{
    if (nPortListSize < 1 || !szPortList || nUsbPortSize < 1 || !szUsbPort)
        return 0;
    CComPortList list(szPortList, nPortListSize);
    CUsbPortFinder usbPort(szDeviceKey, cchPathLimit);
    usbPort.Find(szUsbPort, nUsbPortSize);
    if (!IsWindowsNT())
        return 0;
    return AddDosDevicePorts(list, usbPort.PortName()) ? 1 : 0;
}

enum class FolderRead { Missing, Unusable, Copied };

// The folder in bytes or in wide characters, nFolderSize with the terminator.
// Unusable: the value is there but names no folder that fits (not text, too
// long, or a variable the system does not have).
template <typename Char>
FolderRead CopyThirdPartyFolder(int nFolderSize, Char* szFolder)
{
    if (nFolderSize < 1 || !szFolder)
        return FolderRead::Missing;
    CRegistryKey key;
    if (!key.Open(kThirdPartyBrailleKey) || !key.HasValue("Target"))
        return FolderRead::Missing;
    Char szTarget[kMaxTarget + 1];
    DWORD cchMax = std::min(static_cast<DWORD>(nFolderSize - 1), kMaxTarget);
    // A value that is no text names no folder.
    if (!key.IsString("Target") || !key.QueryText("Target", szTarget, cchMax))
        return FolderRead::Unusable;
    key.Close();
    return CopyText(szFolder, nFolderSize, szTarget) ? FolderRead::Copied : FolderRead::Unusable;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE /*hInstance*/, DWORD /*dwReason*/, LPVOID /*reserved*/)
{
    return TRUE;
}

int WINAPI Is64BitsOS()
{
    HMODULE hKernel = GetModuleHandleA("kernel32");
    FARPROC proc = hKernel ? GetProcAddress(hKernel, "IsWow64Process") : nullptr;
    // Looked up at run time: older 32-bit Windows does not have it.
    if (!proc)
        return 0;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(proc));
    BOOL bWow64 = FALSE;
    if (!isWow64Process(GetCurrentProcess(), &bWow64))
        return 0;
    return bWow64 ? 1 : 0;
}

int WINAPI GetThirdPartyFolderFromRegistry(int nFolderSize, char* szFolder)
{
    return CopyThirdPartyFolder(nFolderSize, szFolder) == FolderRead::Copied ? 1 : 0;
}

int WINAPI GetThirdPartyFolderFromRegistryW(int nFolderSize, wchar_t* szFolder)
{
    switch (CopyThirdPartyFolder(nFolderSize, szFolder)) {
    case FolderRead::Copied:
        return 1;
    case FolderRead::Unusable:
        return 2;
    case FolderRead::Missing:
        break;
    }
    return 0;
}

int WINAPI SecureSetupFolder(const wchar_t* szFolder, HANDLE* phFolder, DWORD* pdwError)
{
    if (!szFolder || !phFolder || !pdwError)
        return kSetupFolderFailed;
    return SecureFolder(szFolder, *phFolder, *pdwError);
}

int WINAPI EnumComPorts(int nPortListSize, char* szPortList, int nUsbPortSize, char* szUsbPort)
{
    return EnumeratePorts(kDisplayUsbKey, kPathLimit, nPortListSize, szPortList, nUsbPortSize,
                          szUsbPort);
}

int WINAPI EnumComPortsEx(const char* szUsbDeviceKey, int nPortListSize, char* szPortList,
                          int nUsbPortSize, char* szUsbPort)
{
    // The key is required; without one there is nothing sound to look up.
    if (!szUsbDeviceKey)
        return 0;
    return EnumeratePorts(szUsbDeviceKey, kPathLimitEx, nPortListSize, szPortList, nUsbPortSize,
                          szUsbPort);
}

int WINAPI KillPcEmulator()
{
    HWND hWnd = FindWindowA(kEmulatorWindow, kEmulatorWindow);
    if (!hWnd)
        return 0;
    // Posted, not sent: the setup must not wait for the emulator to close.
    return PostMessageA(hWnd, WM_CLOSE, 0, 0) ? 1 : 0;
}

int WINAPI Sha256OfFile(const wchar_t* szPath, int nHexSize, wchar_t* szHex)
{
    std::wstring hex;
    if (!szPath || !szHex || nHexSize < 1 || !HashFile(szPath, hex))
        return 0;
    return CopyText(szHex, nHexSize, hex.c_str()) ? 1 : 0;
}

int WINAPI CancelSetupRenames(const wchar_t* szFolder, const wchar_t* szNames)
{
    return szFolder && szNames ? CancelRenames(szFolder, szNames) : -1;
}

int WINAPI OpenSetupLog(const wchar_t* szLog, const wchar_t* szFolderIn, int nPathSize, wchar_t* szLogPath,
                        HANDLE* phLog, DWORD* pdwError)
{
    if (!szLog || !szFolderIn || !szLogPath || nPathSize < 1 || !phLog || !pdwError)
        return kSetupLogFailed;
    std::wstring path;
    const SetupLogResult result = OpenLog(szLog, szFolderIn, path, *phLog, *pdwError);
    if (!CopyText(szLogPath, nPathSize, path.c_str()))
        *szLogPath = L'\0';
    return result;
}

int WINAPI WriteSetupLog(HANDLE hLog, const wchar_t* szLine)
{
    return szLine && WriteLogLine(hLog, szLine) ? 1 : 0;
}

int WINAPI RunsAsSystem()
{
    return IsLocalSystem() ? 1 : 0;
}

int WINAPI HasRoomFor(const wchar_t* szFolder, DWORD dwKilobytes, DWORD* pdwFree)
{
    if (!szFolder || !pdwFree)
        return -1;
    ULONGLONG free = 0;
    const int room = RoomFor(szFolder, dwKilobytes, free);
    *pdwFree = static_cast<DWORD>(std::min<ULONGLONG>(free, MAXDWORD));
    return room;
}
