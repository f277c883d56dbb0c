// Threads that run on the test's own thread: a resumed thread's procedure
// runs inside OsThreadResume, so its effects can be asserted in order.
#pragma once
#include <vector>

#include "os/sync.h"
#include "os/thread.h"

struct FakeThread {
  int created;
  int resumed;
  int waited;
  int closed;
  int failCreate;            // nonzero: OsThreadCreateSuspended gives nullptr
  int failResume;            // nonzero: OsThreadResume fails and runs nothing
  int failWait;              // nonzero: OsThreadWait gives OS_WAIT_FAILED
  std::vector<int> waitTimeouts;
  bool ranBeforeWait;        // the procedure had finished when a wait began
};

extern FakeThread fakeThread;
void FakeThreadReset();
