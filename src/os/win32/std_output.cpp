// Standard-output seam (Windows-specific).
#include <windows.h>

#include "os/std_output.h"

int OsStdOutputWrite(const void *bytes, uint32_t length) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return 0;
  const char *next = (const char *)bytes;
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(output, next, length, &written, nullptr) || written == 0) return -1;
    next += written;
    length -= written;
  }
  return 1;
}
