// Mutex seam (Windows-specific). The portable record is the HANDLE itself.
#include <windows.h>

#include "os/sync.h"

OsMutex OsMutexCreate() { return (OsMutex)CreateMutexA(nullptr, FALSE, nullptr); }

int OsMutexWait(OsMutex mutex, int timeoutMs) {
  // Any negative is taken as OS_MUTEX_NO_LIMIT rather than cast to a DWORD
  // wait of some 49 days.
  DWORD result = WaitForSingleObject((HANDLE)mutex, timeoutMs >= 0 ? (DWORD)timeoutMs : INFINITE);
  return result == WAIT_FAILED ? OS_WAIT_FAILED : (int)result;
}

int OsMutexRelease(OsMutex mutex) { return ReleaseMutex((HANDLE)mutex) ? 1 : 0; }

void OsMutexDestroy(OsMutex mutex) {
  if (mutex != nullptr) CloseHandle((HANDLE)mutex);
}
