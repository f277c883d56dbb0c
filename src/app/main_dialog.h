// The main dialog: the module's identity, the target firmware, and the
// checks and confirmation before the update worker starts.
#pragma once
#include "os/thread.h"

// The update worker's thread while a run is under way; created suspended
// here, resumed by the progress dialog.
extern OsThread workerThread;

// Runs dialog 104 modally with no owner: 1 when a started update has
// finished, 2 when cancelled or refused, -1 when it could not be created.
int MainDialogRun();
