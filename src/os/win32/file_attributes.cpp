// File-attributes seam (Windows-specific).
#include <windows.h>

#include "os/file_attributes.h"

uint32_t OsGetFileAttributes(const char *path) { return GetFileAttributesA(path); }
