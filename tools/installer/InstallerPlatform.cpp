#include "InstallerPlatform.h"

InstallerPlatform& Platform()
{
    static InstallerPlatform platform;
    return platform;
}
