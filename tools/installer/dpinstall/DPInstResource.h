// Resource ids of the driver package installer.
#pragma once

// The driver package it installs: the only INF it accepts (RCDATA).
#define IDR_DRIVER_PACKAGE 150

// The installer window: the progress page, then the outcome page.
#define IDD_INSTALLING 201
#define IDD_FINISHED 202
#define IDC_FINISH_DISABLED 1101
// Each page's main text (the progress line, the outcome) has the id a message
// box gives its text, so whatever reads message boxes reads the pages alike.
#define IDC_PAGE_TEXT 0xFFFF

#define IDS_INSTALLED 102
#define IDS_RESTART 103
#define IDS_FAILED 104
#define IDS_UP_TO_DATE 105
#define IDS_READY 106
#define IDS_REFUSED 107
#define IDS_NO_SYSTEM_TEXT 108
#define IDS_PROVIDED 109
#define IDS_PROVIDED_PORT 110
#define IDS_NEEDS_SAFE_DLL_SEARCH 111
