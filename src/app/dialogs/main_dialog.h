// The main dialog: the module's identity, the target firmware, and the
// checks and confirmation before the update worker starts.
#pragma once

// MainDialogRun's end codes besides -1 (the dialog could not be created).
enum { MAIN_UPDATE_RAN = 1, MAIN_REFUSED = 2 };

// Runs dialog 104 modally with no owner: MAIN_UPDATE_RAN when a started
// update has finished, MAIN_REFUSED when cancelled or refused, -1 when it
// could not be created.
int MainDialogRun();
