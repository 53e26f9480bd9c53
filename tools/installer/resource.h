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

// The application's Help command.
#define ID_HELP 0xE146
