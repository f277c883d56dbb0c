// Message-box seam. Window handles stay opaque to portable code.
#pragma once

typedef void *OsWindow;

// The Win32 values, so styles and answers pass through unchanged.
enum {
  OS_MB_OK = 0x0,
  OS_MB_OKCANCEL = 0x1,
  OS_MB_ICONERROR = 0x10,
  OS_MB_ICONWARNING = 0x30,
  OS_MB_ICONINFORMATION = 0x40,
  OS_IDOK = 1,
  OS_IDCANCEL = 2,
};

int OsMessageBox(OsWindow owner, const char *text, const char *caption, unsigned style);
