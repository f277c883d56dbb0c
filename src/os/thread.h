// Thread seam: the program's threads (the poll, the checks, the update
// worker), created suspended and waited for. The trace's own thread is the
// one exception (log/trace_queue.cpp says why).
#pragma once

typedef struct OsThreadRecord *OsThread;
typedef unsigned (*OsThreadProc)(void *argument);

// nullptr when the thread could not be created.
OsThread OsThreadCreateSuspended(OsThreadProc procedure, void *argument);
int OsThreadResume(OsThread thread);  // nonzero on success
// An OS_WAIT_* result (os/sync.h); a time-out below 0 waits without limit.
int OsThreadWait(OsThread thread, int timeoutMs);
void OsThreadClose(OsThread thread);
