// Virtual clock.
#include "fakes/fake_clock.h"

FakeClock fakeClock;

void FakeClockReset() {
  fakeClock = FakeClock{};
  fakeClock.tick = 1000;
  fakeClock.localTime = OsLocalTime{2026, 12, 10, 4, 4, 9, 5};
}

uint32_t OsTickCount() {
  uint32_t now = fakeClock.tick;
  fakeClock.tick += fakeClock.tickStep;
  return now;
}

void OsSleep(int milliseconds) {
  fakeClock.sleeps.push_back(milliseconds);
  if (milliseconds > 0) fakeClock.tick += (uint32_t)milliseconds;
  if (fakeClock.onSleep) fakeClock.onSleep(milliseconds);
}

void OsGetLocalTime(OsLocalTime *time) { *time = fakeClock.localTime; }
