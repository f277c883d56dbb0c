// Reading the upgrade log back: the last run's result record, for a
// report that wants to say how the last update on this machine ended.
#pragma once
#include <cstddef>

enum { UPGRADE_LOG_TAIL = 1 << 20, LAST_RESULT_TEXT = 256 };

// The last well-formed "RESULT (N): text" line of `text` that starts a
// line. Returns 1 with *code and `out` (the text up to its line end, cut
// to capacity - 1) filled, or 0 when there is none.
int UpgradeLogLastResult(const char *text, size_t length, int *code, char *out, int capacity);

// The same over the file's last UPGRADE_LOG_TAIL bytes: a log grows for
// ever, and the last record is always near its end. 0 when the file
// cannot be read.
int UpgradeLogReadLastResult(const char *path, int *code, char *out, int capacity);
