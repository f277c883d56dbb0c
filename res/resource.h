// Resource identifiers shared by the .rc files and the dialogs' logic.
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
