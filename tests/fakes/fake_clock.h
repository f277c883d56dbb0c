// Virtual clock: sleeps advance the tick at once and are recorded.
#pragma once
#include <cstdint>
#include <vector>

#include "os/clock.h"

struct FakeClock {
  uint32_t tick;
  OsLocalTime localTime;
  std::vector<int> sleeps;
  uint32_t tickStep;  // added to the tick on every OsTickCount call
};

extern FakeClock fakeClock;
void FakeClockReset();
