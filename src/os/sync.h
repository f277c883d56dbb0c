// Mutex seam. One unnamed mutex per device serialises its AT exchanges.
#pragma once

typedef struct OsMutexRecord *OsMutex;

// Wait results, with the values WaitForSingleObject gives.
enum {
  OS_WAIT_OBJECT_0 = 0x0,
  OS_WAIT_ABANDONED = 0x80,
  OS_WAIT_TIMEOUT = 0x102,
  OS_WAIT_FAILED = -1,
};

// The one time-out that waits for ever; 0 only tries the mutex.
enum { OS_MUTEX_NO_LIMIT = -1 };

OsMutex OsMutexCreate();                 // nullptr when it cannot be made
int OsMutexWait(OsMutex mutex, int timeoutMs);  // milliseconds, or OS_MUTEX_NO_LIMIT
int OsMutexRelease(OsMutex mutex);       // nonzero on success
void OsMutexDestroy(OsMutex mutex);
