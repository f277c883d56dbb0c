// File-replacement seam: a finished file moved over another in one step,
// so a reader sees the old whole file or the new one, never a mixture.
#pragma once

// Moves `from` onto `to`, replacing `to` when it exists. Returns 1, or 0
// with both files as they were.
int OsReplaceFile(const char *from, const char *to);
