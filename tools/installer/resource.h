// Resource ids of the installation tool.
#pragma once

#define IDD_TESSALINE_DIALOG 102
#define IDR_MAINFRAME 128

// Stored payloads, resources of type "BIN".
#define IDR_SETUP_PACKAGE 132
#define IDR_DPINST_X86 134
#define IDR_INF_X86 137
#define IDR_DPINST_X64 138
#define IDR_INF_X64 139

#define IDC_INSTALL_USB_DRIVER 1000
#define IDC_INSTALL_JAWS_DRIVER 1001

// Messages of the tool's own, each with %1 the system's words for the error
// and %2 its number.
#define IDS_CANNOT_WRITE 201
#define IDS_PAYLOAD_CHANGED 202
#define IDS_CANNOT_START 203
#define IDS_START_CANCELLED 204
#define IDS_ERROR_WITHOUT_TEXT 205
// Said before the dialog when run as administrator on a Windows without the
// safe DLL search.
#define IDS_UNSAFE_ELEVATION 206
// A payload written but not held, a path that leads through a link, and the
// setup package refused without the safe DLL search.
#define IDS_CANNOT_CHECK 207
#define IDS_FOLDER_REDIRECTED 208
#define IDS_SETUP_NEEDS_SAFE_DLL_SEARCH 209

// The application's Help command.
#define ID_HELP 0xE146
