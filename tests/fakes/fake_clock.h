// Virtual clock: sleeps advance the tick at once and are recorded.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "os/clock.h"

struct FakeClock {
  uint32_t tick;
  OsLocalTime localTime;
  std::vector<int> sleeps;
  uint32_t tickStep;  // added to the tick on every OsTickCount call
  // After each sleep, with its length: lets a peer change over time, as a
  // module that comes back after so many one-second polls.
  std::function<void(int milliseconds)> onSleep;
};

extern FakeClock fakeClock;
void FakeClockReset();
