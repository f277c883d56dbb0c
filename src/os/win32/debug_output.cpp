// Debugger-output seam (Windows-specific).
#include <windows.h>

#include "os/debug_output.h"

void OsDebugOutput(const char *line) { OutputDebugStringA(line); }
