// Clock seam (Windows-specific).
#include <windows.h>

#include "os/clock.h"

uint32_t OsTickCount() { return GetTickCount(); }

void OsSleep(int milliseconds) { Sleep(milliseconds > 0 ? (DWORD)milliseconds : 0); }

void OsGetLocalTime(OsLocalTime *time) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  time->year = now.wYear;
  time->month = now.wMonth;
  time->day = now.wDay;
  time->weekday = now.wDayOfWeek;
  time->hour = now.wHour;
  time->minute = now.wMinute;
  time->second = now.wSecond;
}
