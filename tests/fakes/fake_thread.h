// Threads that run on the test's own thread. A resumed thread does not run
// inside OsThreadResume: it runs when the interface thread's loop turns
// (FakeThreadRunResumed, which the fake dialogs' loops call) or when
// something waits for it, so a test sees what happened before it ran.
#pragma once
#include <vector>

#include "os/sync.h"
#include "os/thread.h"

// One thread's life, kept after it was closed.
struct FakeThreadHistory {
  OsThreadProc procedure;
  int resumed;
  std::vector<int> waitTimeouts;
  bool ranBeforeWait;  // the procedure had finished when the last wait began
  bool closed;
  int createdAt, closedAt;  // turns of one clock shared by every creation and close
};

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
  std::vector<FakeThreadHistory> history;  // in the order of creation
};

extern FakeThread fakeThread;
void FakeThreadReset();

// The threads created for `procedure`, merged: how often they were
// resumed, waited for and closed.
FakeThreadHistory FakeThreadOf(OsThreadProc procedure, int *created = nullptr);

// Runs the next resumed thread that has not run yet, to its end. Returns
// false when there was none.
bool FakeThreadRunOne();
// Runs every resumed thread, also those resumed meanwhile.
void FakeThreadRunResumed();
// The thread whose procedure is running, nullptr on the interface thread.
OsThread FakeThreadCurrent();
// Makes `thread` the current one (nullptr: the interface thread), as a
// synchronous message moves the work to the window's thread; returns the
// one it replaces.
OsThread FakeThreadSwitch(OsThread thread);
