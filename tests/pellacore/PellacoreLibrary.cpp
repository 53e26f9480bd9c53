#include "PellacoreLibrary.h"

#include <gtest/gtest.h>

#if defined(__i386__)
extern "C" int __cdecl CallAndMeasurePop(const void* pfn, int argc, const std::uint32_t* args);

// Pushes the arguments right to left, calls, and returns how far the stack
// pointer moved back during the call. Plain assembly so that no compiler
// adjustment of the stack pointer around the call can hide the difference.
asm(R"(
    .text
    .globl _CallAndMeasurePop
_CallAndMeasurePop:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    movl  12(%ebp), %ecx
    movl  16(%ebp), %esi
1:  testl %ecx, %ecx
    jz    2f
    pushl -4(%esi,%ecx,4)
    decl  %ecx
    jmp   1b
2:  movl  %esp, %ebx
    call  *8(%ebp)
    movl  %esp, %eax
    subl  %ebx, %eax
    leal  -8(%ebp), %esp
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");

int CalleePoppedBytes(const void* pfn, const std::vector<std::uint32_t>& args)
{
    return CallAndMeasurePop(pfn, static_cast<int>(args.size()), args.data());
}
#endif

namespace {

template <typename Fn>
void Bind(HMODULE hModule, const char* szName, Fn& fn)
{
    fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, szName)));
    if (!fn)
        ADD_FAILURE() << szName << " is not exported";
}

PellacoreLibrary Load()
{
    PellacoreLibrary lib;
    lib.hModule = LoadLibraryA("Pellacore.dll");
    if (!lib.hModule) {
        ADD_FAILURE() << "Pellacore.dll did not load, error " << GetLastError();
        return lib;
    }
    Bind(lib.hModule, "Is64BitsOS", lib.Is64BitsOS);
    Bind(lib.hModule, "GetThirdPartyFolderFromRegistry", lib.GetThirdPartyFolderFromRegistry);
    Bind(lib.hModule, "GetThirdPartyFolderFromRegistryW", lib.GetThirdPartyFolderFromRegistryW);
    Bind(lib.hModule, "EnumComPorts", lib.EnumComPorts);
    Bind(lib.hModule, "EnumComPortsEx", lib.EnumComPortsEx);
    Bind(lib.hModule, "KillPcEmulator", lib.KillPcEmulator);
    Bind(lib.hModule, "SecureSetupFolder", lib.SecureSetupFolder);
    Bind(lib.hModule, "Sha256OfFile", lib.Sha256OfFile);
    Bind(lib.hModule, "CancelSetupRenames", lib.CancelSetupRenames);
    Bind(lib.hModule, "OpenSetupLog", lib.OpenSetupLog);
    Bind(lib.hModule, "WriteSetupLog", lib.WriteSetupLog);
    Bind(lib.hModule, "RunsAsSystem", lib.RunsAsSystem);
    Bind(lib.hModule, "HasRoomFor", lib.HasRoomFor);
    return lib;
}

}  // namespace

const PellacoreLibrary& Pellacore()
{
    static const PellacoreLibrary lib = Load();
    return lib;
}

std::vector<std::string> ExportedNames(HMODULE hModule, unsigned* pFunctionCount)
{
    auto base = reinterpret_cast<const BYTE*>(hModule);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    *pFunctionCount = exports->NumberOfFunctions;
    return result;
}
