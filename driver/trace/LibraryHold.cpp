#include "LibraryHold.h"

#include "Trace.h"

namespace {

// Any address inside this library names it.
const char kSelf = 0;

HMODULE Self()
{
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, &kSelf,
                       &self);
    return self;
}

}  // namespace

bool LibraryHold::Take()
{
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, &kSelf, &self))
        return true;
    Trace("LibraryHold::Take : no reference to the library (%lu)", GetLastError());
    return false;
}

void LibraryHold::Give()
{
    FreeLibrary(Self());
}

void LibraryHold::EndThread(DWORD exitCode)
{
    FreeLibraryAndExitThread(Self(), exitCode);
}

void LibraryHold::Pin()
{
    HMODULE self = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN, &kSelf, &self))
        Trace("LibraryHold::Pin : the library stays loaded until the process ends");
    else
        Trace("LibraryHold::Pin : the library could not be pinned (%lu)", GetLastError());
}
