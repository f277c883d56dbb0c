// Process seam: ending the process from deep inside (a FATAL trace line).
#pragma once

void OsExitProcess(int code);
