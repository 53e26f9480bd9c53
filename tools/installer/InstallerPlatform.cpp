#include "InstallerPlatform.h"

#include "SystemLibrary.h"

#include <ntsecapi.h>

InstallerPlatform::InstallerPlatform() : isElevated(IsElevated), genRandom(RtlGenRandom) {}

InstallerPlatform& Platform()
{
    static InstallerPlatform platform;
    return platform;
}
