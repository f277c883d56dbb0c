// File-attributes seam: whether a path names something on disk.
#pragma once
#include <cstdint>

// What GetFileAttributesA gives when the path cannot be read.
enum : uint32_t {
  OS_INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu,
};

uint32_t OsGetFileAttributes(const char *path);
