// File-replacement seam (Windows-specific).
#include <windows.h>

#include "os/file_replace.h"

int OsReplaceFile(const char *from, const char *to) {
  // Write-through: the move is on disk before the caller reports success.
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}
