// Resource identifiers and build constants, shared by the .rc files and
// the dialogs' logic (plain defines, so both compilers read them).
#pragma once

#define IDI_QUILLON 101

// Controls a dialog never addresses.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDS_PRODUCT_NAME 1
#define IDS_USAGE 2

// PIN dialog: the label naming the code wanted, and the code.
#define IDD_PIN 129
#define IDC_PIN_CODE 1000
#define IDC_PIN_LABEL 1001

// Progress dialog: the stage indicator, the status line, and the percent
// bar with its text drawn over it.
#define IDD_PROGRESS 133
#define IDC_PERCENT_BAR 1002
#define IDC_STATUS 1004
#define IDC_STAGE_BAR 1005
#define IDC_PERCENT_TEXT 1006

#define QUILLON_VERSION_NUMBERS 1, 0, 0, 0
#define QUILLON_VERSION_TEXT "1.0.0.0"

// The main dialog's caption and the run header's program title: the
// product's name, its own product number and its revision.
#define QUILLON_CAPTION "Quillon CXC 173 0961/1 R1A"

// Dialog 104, the main dialog. The value fields are filled at run time.
#define IDD_MAIN_DIALOG 104
#define IDC_MAIN_TARGET_LABEL 1003
#define IDC_MAIN_MODEL 1005
#define IDC_MAIN_HARDWARE 1006
#define IDC_MAIN_FIRMWARE 1007
#define IDC_MAIN_IMEI 1008
#define IDC_MAIN_BUILD_DATE 1009
#define IDC_MAIN_TARGET 1010
