// The shutdown guards: while the firmware is written, Windows may not log
// off, shut down, suspend or sleep. Taken and released on the thread that
// owns the progress window; the window itself answers the queries.
#pragma once
#include <cstdint>

#include "os/ui.h"

// While the progress dialog is open: system and display kept awake.
enum : uint32_t { GUARDED_EXECUTION_STATE = 0x80000043u, RELEASED_EXECUTION_STATE = 0x80000000u };

void TakeShutdownGuards(OsWindow window);
void ReleaseShutdownGuards(OsWindow window);
