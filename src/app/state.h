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

// The run's result: the process's exit code, and the upgrade log's
// result line (whose texts follow this order).
enum UpdateResultCode : int {
  RESULT_SUCCESS = 0,
  RESULT_UNKNOWN_ERROR = 1,
  RESULT_NOT_SUPPORTED = 2,
  RESULT_SIM_MISSING = 3,
  RESULT_PIN_ERROR = 4,
  RESULT_UPDATE_FAILED = 5,
  RESULT_UPGRADE_PATH_ERROR = 6,
  RESULT_VERSION_UNCHANGED = 7,
  RESULT_TIMEOUT = 8,
  RESULT_BATTERY_LOW = 9,  // quiet only: on a battery too low to finish
};

// Keeps the first failure of a run: a later code never hides the cause.
// Atomic: the worker and the interface thread both record codes.
void SetUpdateResult(int code);

// Back to the start values; for tests that run the entry more than once.
void ResetProcessState();
