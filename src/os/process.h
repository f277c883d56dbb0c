// Process seam: ending the process from deep inside (a FATAL trace line),
// and a last word before a crash ends it.
#pragma once

void OsExitProcess(int code);

// This process's id: a name of its own for a file two runs might write.
unsigned long OsProcessId();

// Called on the faulting thread when a crash is about to end the process
// (the unhandled-exception filter), before the system's own handling.
void OsSetCrashHandler(void (*handler)());
