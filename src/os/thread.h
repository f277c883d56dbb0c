// Thread seam: the update worker's thread, created suspended and waited for.
#pragma once

typedef struct OsThreadRecord *OsThread;
typedef unsigned (*OsThreadProc)(void *argument);

// nullptr when the thread could not be created.
OsThread OsThreadCreateSuspended(OsThreadProc procedure, void *argument);
int OsThreadResume(OsThread thread);  // nonzero on success
// An OS_WAIT_* result (os/sync.h); a time-out below 0 waits without limit.
int OsThreadWait(OsThread thread, int timeoutMs);
void OsThreadClose(OsThread thread);
