// The thread a dialog asks the module on, so that its window keeps
// answering while a slow module takes seconds.
#pragma once

#include "os/dialog.h"
#include "os/thread.h"

// Starts procedure(argument) on a thread of its own and returns the
// thread, to be waited for once it has reported. nullptr when no thread
// could be had: the caller then runs the procedure itself.
OsThread StartExchangeThread(OsThreadProc procedure, void *argument);

// OK and Cancel wait, greyed out, while the module is asked.
void EnableOkCancel(OsWindow dialog, int enabled);
