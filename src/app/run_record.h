// One run of the updater, from the command line to the exit code: what the
// user asked for, the module's device and the result. The entry owns it;
// the dialogs and the worker are given it.
#pragma once
#include "os/thread.h"
#include "os/ui.h"

struct SerialDevice;

enum { PORT_NAME_SIZE = 20 };

struct RunRecord {
  // The module's device. The entry opens it before the main dialog and
  // closes it after. In between, only the interface thread writes it, and
  // only between polls: a poll takes the device out of the run (which then
  // has none) and hands it back with its report, opened, closed or as it
  // was. While the worker runs, only the worker writes it (it reopens the
  // module after each restart).
  SerialDevice *device;
  // From the command line, written by the entry before any dialog and
  // only read after.
  int quiet;
  int forced;
  const char *packageFile;  // points into the command-line copy; none: the built-in packages
  char portName[PORT_NAME_SIZE];
  // The exit code; written by any thread, only through RunSetResult.
  int result;
  // The update worker, created suspended by the main dialog and resumed
  // by the progress dialog, both on the interface thread; none outside
  // the update.
  OsThread worker;
};

// A run before its command line is read.
void RunRecordReset(RunRecord *run);

// Silent when `quiet`: returns 1 and shows nothing.
int ShowMessage(int quiet, OsWindow owner, const char *text, const char *caption, unsigned style);

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
void RunSetResult(RunRecord *run, int code);
