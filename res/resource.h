// Resource identifiers and build constants, shared by the .rc files and
// the dialogs' logic (plain defines, so both compilers read them).
#pragma once

#define IDI_QUILLON 101

#define IDS_PRODUCT_NAME 1
#define IDS_USAGE 2

#define QUILLON_VERSION_NUMBERS 1, 0, 0, 0
#define QUILLON_VERSION_TEXT "1.0.0.0"

// The main dialog's caption and the run header's program title: the
// product's name, its own product number and its revision.
#define QUILLON_CAPTION "Quillon CXC 173 0961/1 R1A"

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Dialog 104, the main dialog. The value fields are filled at run time.
#define IDD_MAIN_DIALOG 104
#define IDC_MAIN_TARGET_LABEL 1003
#define IDC_MAIN_MODEL 1005
#define IDC_MAIN_HARDWARE 1006
#define IDC_MAIN_FIRMWARE 1007
#define IDC_MAIN_IMEI 1008
#define IDC_MAIN_BUILD_DATE 1009
#define IDC_MAIN_TARGET 1010
