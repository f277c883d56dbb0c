// Child-process seam: starting another program and waiting for its end.
#pragma once
#include <cstdint>

#include "os/errors.h"
#include "os/sync.h"

// The process and its first thread, as CreateProcessA gives them: two
// handles as integers, both 0 when nothing was started.
struct OsChild {
  uintptr_t process;
  uintptr_t thread;
};

// Starts `application` (a full path, never searched for elsewhere) with
// `commandLine`, which the system may change in place, so it must be
// writable. No handles are inherited, no creation flags are set, and the
// child gets the caller's environment and current folder. Returns 0 with
// `*child` filled, or the system error code with `*child` zeroed.
uint32_t OsChildStart(const char *application, char *commandLine, OsChild *child);
// An OS_WAIT_* result (os/sync.h); a time-out below 0 waits without limit.
int OsChildWait(const OsChild *child, int timeoutMs);
// Closes both handles and zeroes the record. A child that has not ended
// runs on.
void OsChildClose(OsChild *child);
