// Resource ids of the driver package installer.
#pragma once

#define IDS_TITLE 101
#define IDS_INSTALLED 102
#define IDS_INSTALLED_REBOOT 103
#define IDS_FAILED 104
