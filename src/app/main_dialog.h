// The main dialog: the module's identity, the target firmware, and the
// checks and confirmation before the update worker starts.
#pragma once
// Runs dialog 104 modally with no owner: 1 when a started update has
// finished, 2 when cancelled or refused, -1 when it could not be created.
int MainDialogRun();
