// Thread seam (Windows-specific).
#include <windows.h>

#include "os/sync.h"
#include "os/thread.h"

struct OsThreadRecord {
  HANDLE handle;
  OsThreadProc procedure;
  void *argument;
};

// The seam's procedure has no calling convention of its own; this one has
// the one CreateThread wants.
static DWORD WINAPI Start(LPVOID parameter) {
  OsThreadRecord *record = (OsThreadRecord *)parameter;
  return (DWORD)record->procedure(record->argument);
}

OsThread OsThreadCreateSuspended(OsThreadProc procedure, void *argument) {
  if (procedure == nullptr) return nullptr;
  OsThreadRecord *record = new OsThreadRecord{nullptr, procedure, argument};
  DWORD id = 0;
  record->handle = CreateThread(nullptr, 0, Start, record, CREATE_SUSPENDED, &id);
  if (record->handle == nullptr) {
    delete record;
    return nullptr;
  }
  return record;
}

int OsThreadResume(OsThread thread) {
  if (thread == nullptr) return 0;
  return ResumeThread(thread->handle) != (DWORD)-1 ? 1 : 0;
}

int OsThreadWait(OsThread thread, int timeoutMs) {
  if (thread == nullptr) return OS_WAIT_FAILED;
  DWORD result = WaitForSingleObject(thread->handle, timeoutMs >= 0 ? (DWORD)timeoutMs : INFINITE);
  return result == WAIT_FAILED ? OS_WAIT_FAILED : (int)result;
}

// The record is freed with the handle; the caller waits for the thread
// first, since a running thread still reads its procedure from it.
void OsThreadClose(OsThread thread) {
  if (thread == nullptr) return;
  CloseHandle(thread->handle);
  delete thread;
}
