// Mutexes that count what was done to them; waits answer from a script
// (acquired when nothing is queued).
#pragma once
#include <deque>

struct FakeSync {
  int created;
  int destroyed;
  int waits;
  int releases;
  int failCreate;           // nonzero: OsMutexCreate gives nullptr
  std::deque<int> waitResults;
  int lastTimeout;
};

extern FakeSync fakeSync;
void FakeSyncReset();
