// The assignment exchange: one package to the module in update mode, in
// acknowledged chunks behind 24-byte headers, from memory or from a file.
#pragma once
#include <cstdint>

#include "update/sf_codes.h"
#include "update/sf_progress.h"

struct SerialDevice;

enum { SF_CHUNK_SIZE = 8192 };

// The longest package file: its buffer (one byte more) must still be
// counted in a signed 32-bit length.
inline constexpr int64_t SFLIB_MAX_FILE_LENGTH = 0x7FFFFFFE;

// Sends `length` bytes of `data` (read only, never copied).
int SFLibSendAssignment(SerialDevice *device, const unsigned char *data, int32_t length,
                        SFProgressCallback progress);

// Loads the file whole, closes it, then sends it as above.
int SFLibSendAssignmentFile(SerialDevice *device, const char *path, SFProgressCallback progress);

// The same through another way of reading files (the product reads with
// stdio, `sfStdioFile`).
struct SFFileOps;
int SFLibSendAssignmentFileFrom(SerialDevice *device, const char *path, SFProgressCallback progress,
                                const SFFileOps *files);

// The six header fields to the trace, one level-4 entry.
void DumpHeader(const unsigned char *header);
