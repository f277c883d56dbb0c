// How a package file is opened, measured and read: one record of
// operations, stdio for the product, so that a test can play a file that
// changes under the updater.
#pragma once
#include <cstddef>
#include <cstdint>

struct SFFileOps {
  void *(*open)(const char *path);  // binary reading; nullptr when it does not open
  // The length from the start, with the position back at the start; -1
  // when the file cannot tell it (a pipe, a failed seek).
  int64_t (*length)(void *file);
  size_t (*read)(void *file, void *buffer, size_t count);  // one read of 1-byte items
  void (*close)(void *file);
};

extern const SFFileOps sfStdioFile;
