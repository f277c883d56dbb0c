// The main dialog: the module's identity, the target firmware, and the
// checks and confirmation before the update worker starts.
#pragma once

// MainDialogRun's end codes besides -1 (the dialog could not be created).
enum { MAIN_UPDATE_RAN = 1, MAIN_REFUSED = 2 };

struct RunRecord;

// Runs dialog 104 modally with no owner for `run`: MAIN_UPDATE_RAN when a
// started update has finished, MAIN_REFUSED when cancelled or refused, -1
// when it could not be created. The run's device is the dialog's between
// polls and the worker's while the update runs; a failure leaves its code
// in the run.
int MainDialogRun(RunRecord *run);
