// The progress dialog's output operations, as the worker uses them. Each
// is one synchronous request to the dialog, applied on the interface
// thread; each does nothing while no progress dialog exists.
#pragma once
#include "common/printf_check.h"
#include "os/ui.h"
#include "update/sf_progress.h"

struct RunRecord;

extern OsWindow ProgressWindow;

// The stages the dialog shows, each with its status line; the stage
// indicator stands at the stage's number.
enum ProgressStage : int {
  STAGE_CONNECT = 0,
  STAGE_INITIALIZE = 1,
  STAGE_SEND = 2,
  STAGE_SEND_DONE = 3,
  STAGE_WAIT_REBOOT = 4,  // also resets the percent
  STAGE_WAIT_UPDATE = 5,  // also resets the percent
};

// The dialog's end codes. PROGRESS_WORKER_NOT_STARTED is ProgressDialogRun's
// own when the run's worker could not be resumed: the worker never ran and
// never will, so nobody may wait for it.
enum ProgressEnd : int {
  PROGRESS_SUCCESS = 1,
  PROGRESS_FAILURE = 2,  // leaves a non-zero result in the run
  PROGRESS_WORKER_NOT_STARTED = 3,
};

void SetStage(ProgressStage stage);
void SetPercent(int percent);
void StatusPrintf(const char *format, ...) PRINTF_CHECK(1, 2);
void TitlePrintf(const char *format, ...) PRINTF_CHECK(1, 2);
// PROGRESS_SUCCESS or PROGRESS_FAILURE. Releases the shutdown guards and
// ends the dialog.
void EndProgress(ProgressEnd code);

// The update protocol's progress callback.
void OnProgress(unsigned stage, const SFProgressPair *pair);
// Forgets every transfer sample and the average rate, which a process
// otherwise keeps across packages; for tests.
void ResetProgressSamples();

// Runs dialog 133 modally (owner may be none; none in a quiet run): takes
// the shutdown guards, resumes the run's worker and returns the code EndProgress gave,
// PROGRESS_WORKER_NOT_STARTED, or -1 when the dialog could not be created.
int ProgressDialogRun(RunRecord *run, OsWindow owner);
