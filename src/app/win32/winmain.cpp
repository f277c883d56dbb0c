// Windows entry point: hands the command line to the portable run.
#include <windows.h>

#include "app/entry.h"
#include "log/trace_log.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  (void)instance;
  TraceStart();
  int code = QuillonMain(commandLine);
  TraceFlush();  // the process ends on the return: its last lines go first
  return code;
}
