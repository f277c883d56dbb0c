// Process-wide state of the application, and the two operations every
// dialog and the worker share.
#pragma once
#include "os/thread.h"
#include "os/ui.h"

struct SerialDevice;

enum { PORT_NAME_SIZE = 20 };

extern SerialDevice *theDevice;
extern const char *updateFilePath;  // points into the command-line copy
extern int quietMode;
extern int forceUpgrade;
extern char portName[PORT_NAME_SIZE];
extern int UpdateResult;
// The update worker, created suspended by the main dialog and resumed by
// the progress dialog; none outside a run.
extern OsThread workerThread;

// Silent in quiet mode: returns quietMode (1) and shows nothing.
int ShowMessage(OsWindow owner, const char *text, const char *caption, unsigned style);

// Keeps the first failure of a run: a later code never hides the cause.
// Atomic: the worker and the interface thread both record codes.
void SetUpdateResult(int code);

// Back to the start values; for tests that run the entry more than once.
void ResetProcessState();
