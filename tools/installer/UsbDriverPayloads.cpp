#include "UsbDriverPayloads.h"
#include "InstallerPlatform.h"
#include "resource.h"

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

bool IsWow64()
{
    BOOL isWow64 = FALSE;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(Platform().getProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process")));
    if (isWow64Process)
        isWow64Process(GetCurrentProcess(), &isWow64);
    return isWow64 != FALSE;
}

}  // namespace

UsbDriverPayloads UsbDriverPayloads::ForPlatform(bool is64Bit)
{
    if (is64Bit)
        return {IDR_INF_X64, IDR_DPINST_X64, L"DPInst_x64.exe"};
    return {IDR_INF_X86, IDR_DPINST_X86, L"DPInst.exe"};
}

UsbDriverPayloads UsbDriverPayloads::ForThisPlatform()
{
    return ForPlatform(IsWow64());
}
