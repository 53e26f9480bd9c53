#include "InstallerPlatform.h"

#include <ntsecapi.h>

InstallerPlatform::InstallerPlatform() : genRandom(RtlGenRandom) {}

InstallerPlatform& Platform()
{
    static InstallerPlatform platform;
    return platform;
}
