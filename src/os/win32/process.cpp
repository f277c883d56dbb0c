// Process seam (Windows-specific).
#include <windows.h>

#include "os/process.h"

void OsExitProcess(int code) { ExitProcess((UINT)code); }
