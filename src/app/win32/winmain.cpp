// Windows entry point: hands the command line to the portable run.
#include <windows.h>

#include "app/entry.h"
#include "log/trace_log.h"
#include "os/dll_search.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\app\\win32\\winmain";

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  (void)instance;
  // First, before anything loads a DLL by name: the program's own folder
  // may hold a planted one, and the program runs elevated.
  int restricted = OsRestrictDllSearch();
  // Read before the trace starts its thread, which may set it again.
  unsigned long error = restricted ? 0 : GetLastError();
  TraceStart();
  if (!restricted) TRACE(TRACE_WARNING, "DLL search not limited to System32 (error %lu)\n", error);
  int code = QuillonMain(commandLine);
  TraceFlush();  // the process ends on the return: its last lines go first
  return code;
}
