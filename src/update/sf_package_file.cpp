// Package files through stdio, with 64-bit positions: a length past the
// 32-bit range must be seen as what it is, not as its low bits.
#include "update/sf_package_file.h"

#include <cstdio>

static void *StdioOpen(const char *path) { return std::fopen(path, "rb"); }

static int64_t StdioLength(void *file) {
  FILE *stream = (FILE *)file;
  if (fseeko64(stream, 0, SEEK_END) != 0) return -1;
  int64_t length = (int64_t)ftello64(stream);
  if (fseeko64(stream, 0, SEEK_SET) != 0) return -1;
  return length;
}

static size_t StdioRead(void *file, void *buffer, size_t count) {
  return std::fread(buffer, 1, count, (FILE *)file);
}

static void StdioClose(void *file) { std::fclose((FILE *)file); }

const SFFileOps sfStdioFile = {StdioOpen, StdioLength, StdioRead, StdioClose};
