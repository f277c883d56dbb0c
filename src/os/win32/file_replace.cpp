// File-replacement seam (Windows-specific).
#include <windows.h>

#include "os/file_replace.h"

static HANDLE H(OsFile file) { return (HANDLE)file; }

OsFile OsFileCreate(const char *path) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : (OsFile)file;
}

int OsFileWrite(OsFile file, const void *bytes, size_t length) {
  const char *at = (const char *)bytes;
  while (length > 0) {
    DWORD part = length > 0x40000000u ? 0x40000000u : (DWORD)length;
    DWORD written = 0;
    if (!WriteFile(H(file), at, part, &written, nullptr) || written == 0) return 0;
    at += written;
    length -= written;
  }
  return 1;
}

int OsFileFlush(OsFile file) { return FlushFileBuffers(H(file)) ? 1 : 0; }

int OsFileClose(OsFile file) { return CloseHandle(H(file)) ? 1 : 0; }

int OsReplaceFile(const char *from, const char *to) {
  // Write-through: the move is on disk before the caller reports success.
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}
