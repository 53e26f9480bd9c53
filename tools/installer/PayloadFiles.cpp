#include "PayloadFiles.h"
#include "framework/CApplication.h"

namespace {

const char kPayloadType[] = "BIN";

struct Payload {
    const char* data;
    DWORD size;
};

bool FindPayload(WORD id, Payload& payload)
{
    HMODULE module = CApplication::ResourceHandle();
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), kPayloadType);
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    payload.data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    payload.size = resource ? SizeofResource(module, resource) : 0;
    return payload.data != nullptr;
}

}  // namespace

std::wstring JoinFolder(const std::wstring& folder, const std::wstring& name)
{
    std::wstring path = folder;
    std::wstring::size_type lastSeparator = path.rfind(L'\\');
    if (lastSeparator == std::wstring::npos || lastSeparator + 1 != path.size())
        path += L'\\';
    return path + name;
}

DWORD ExtractResourceToFile(WORD id, const std::wstring& path, HANDLE& lock, HeldFileStep& failedAt)
{
    lock = INVALID_HANDLE_VALUE;
    failedAt = HeldFileStep::Write;
    Payload payload;
    if (!FindPayload(id, payload))
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    return WriteHeldFile(path, payload.data, payload.size, lock, failedAt);
}
