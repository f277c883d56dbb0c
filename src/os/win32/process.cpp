// Process seam (Windows-specific).
#include <windows.h>

#include "os/process.h"

void OsExitProcess(int code) { ExitProcess((UINT)code); }

unsigned long OsProcessId() { return GetCurrentProcessId(); }

static void (*crashHandler)();
static LPTOP_LEVEL_EXCEPTION_FILTER previousFilter;

// The runtime's own filter (installed before ours) still decides what
// happens to the exception; ours only speaks first.
static LONG WINAPI CrashFilter(EXCEPTION_POINTERS *exception) {
  if (crashHandler != nullptr) crashHandler();
  return previousFilter != nullptr ? previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

void OsSetCrashHandler(void (*handler)()) {
  bool first = crashHandler == nullptr;
  crashHandler = handler;
  if (first) previousFilter = SetUnhandledExceptionFilter(CrashFilter);
}
