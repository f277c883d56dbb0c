// Message-box seam (Windows-specific).
#include <windows.h>

#include "os/ui.h"

int OsMessageBox(OsWindow owner, const char *text, const char *caption, unsigned style) {
  return MessageBoxA((HWND)owner, text, caption, style);
}
