// File-replacement seam: a finished file written, put on the disk, and
// moved over another in one step, so a reader sees the old whole file or
// the new one, never a mixture, even after a power cut.
#pragma once
#include <cstddef>

typedef struct OsFileObject *OsFile;

// Creates `path` for writing, empty, replacing a file there. nullptr when
// it cannot.
OsFile OsFileCreate(const char *path);
// Returns 1 when every byte was written, else 0.
int OsFileWrite(OsFile file, const void *bytes, size_t length);
// Puts what was written on the disk (FlushFileBuffers). Returns 1 or 0.
int OsFileFlush(OsFile file);
// Returns 1 or 0; the file is closed either way.
int OsFileClose(OsFile file);

// Moves `from` onto `to`, replacing `to` when it exists. Returns 1, or 0
// with both files as they were.
int OsReplaceFile(const char *from, const char *to);
