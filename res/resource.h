// Resource identifiers shared by the .rc file and the dialog glue.
#pragma once

#define IDI_QUILLON 101

#define IDS_PRODUCT_NAME 1
#define IDS_USAGE 2

#define QUILLON_VERSION_NUMBERS 1, 0, 0, 0
#define QUILLON_VERSION_TEXT "1.0.0.0"
