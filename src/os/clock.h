// Clock seam: every tick, pause and time of day the product uses comes
// through here, so tests can run minutes of waiting on a virtual clock.
#pragma once
#include <cstdint>

struct OsLocalTime {
  int year;
  int month;    // 1..12
  int day;      // 1..31
  int weekday;  // 0 = Sunday
  int hour;
  int minute;
  int second;
};

uint32_t OsTickCount();
void OsSleep(int milliseconds);
void OsGetLocalTime(OsLocalTime *time);
