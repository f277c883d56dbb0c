// Standard-output seam: the handle a caller gave the process, if any. A
// GUI program started from Explorer has none; one started with its output
// piped or redirected (a script, `| more`) has one.
#pragma once
#include <cstdint>

// Writes all `length` bytes. Returns 1 when they went out, 0 when the
// process has no standard output, -1 when a write failed.
int OsStdOutputWrite(const void *bytes, uint32_t length);
