// Process seam: ending the process from deep inside (a FATAL trace line),
// and a last word before a crash ends it.
#pragma once

void OsExitProcess(int code);

// Called on the faulting thread when a crash is about to end the process
// (the unhandled-exception filter), before the system's own handling.
void OsSetCrashHandler(void (*handler)());
