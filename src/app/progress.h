// The progress dialog's output operations, as the worker uses them. Each
// is one synchronous request to the dialog, applied on the interface
// thread; each does nothing while no progress dialog exists.
#pragma once
#include "os/ui.h"
#include "printf_check.h"
#include "sf_progress.h"

extern OsWindow ProgressWindow;

void SetStage(int stage);
void SetPercent(int percent);
void StatusPrintf(const char *format, ...) PRINTF_CHECK(1, 2);
void TitlePrintf(const char *format, ...) PRINTF_CHECK(1, 2);
// 1 success, 2 failure (which leaves a non-zero UpdateResult). Releases
// the shutdown guards and ends the dialog.
void EndProgress(int code);

// The update protocol's progress callback.
void OnProgress(unsigned stage, const SFProgressPair *pair);
// Forgets every transfer sample and the average rate, which a process
// otherwise keeps across packages; for tests.
void ResetProgressSamples();

// ProgressDialogRun's code when workerThread could not be resumed: the
// worker never ran and never will, so nobody may wait for it.
enum { PROGRESS_WORKER_NOT_STARTED = 3 };

// Runs dialog 133 modally (owner may be none): takes the shutdown guards,
// resumes workerThread and returns the code EndProgress gave,
// PROGRESS_WORKER_NOT_STARTED, or -1 when the dialog could not be created.
int ProgressDialogRun(OsWindow owner);
