// Pellacore.dll as the setup package gets it: loaded by name, its exports
// looked up by their plain names and called with the WINAPI convention.
#pragma once

#include "Pellacore.h"

#include <cstdint>
#include <string>
#include <vector>

struct PellacoreLibrary {
    HMODULE hModule = nullptr;
    decltype(&::Is64BitsOS) Is64BitsOS = nullptr;
    decltype(&::GetThirdPartyFolderFromRegistry) GetThirdPartyFolderFromRegistry = nullptr;
    decltype(&::GetThirdPartyFolderFromRegistryW) GetThirdPartyFolderFromRegistryW = nullptr;
    decltype(&::EnumComPorts) EnumComPorts = nullptr;
    decltype(&::EnumComPortsEx) EnumComPortsEx = nullptr;
    decltype(&::KillPcEmulator) KillPcEmulator = nullptr;
    decltype(&::SecureSetupFolder) SecureSetupFolder = nullptr;
    decltype(&::Sha256OfFile) Sha256OfFile = nullptr;
    decltype(&::CancelSetupRenames) CancelSetupRenames = nullptr;
    decltype(&::OpenSetupLog) OpenSetupLog = nullptr;
    decltype(&::WriteSetupLog) WriteSetupLog = nullptr;
    decltype(&::RunsAsSystem) RunsAsSystem = nullptr;
    decltype(&::HasRoomFor) HasRoomFor = nullptr;
};

// Loads the library once (it sits beside the test program); fails the test
// when it or one of its exports is missing.
const PellacoreLibrary& Pellacore();

// Names in the module's export table, and how many entries it has in all.
std::vector<std::string> ExportedNames(HMODULE hModule, unsigned* pFunctionCount);

// Calls pfn with the given 32-bit arguments and answers how many bytes of
// them the callee itself took off the stack: 4 per argument for WINAPI, 0 for
// the C convention (whose caller would then leave the stack unbalanced).
int CalleePoppedBytes(const void* pfn, const std::vector<std::uint32_t>& args);
