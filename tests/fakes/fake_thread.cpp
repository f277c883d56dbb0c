// Threads that run on the test's own thread.
#include "fakes/fake_thread.h"

struct OsThreadRecord {
  OsThreadProc procedure;
  void *argument;
  bool finished;
};

FakeThread fakeThread;

void FakeThreadReset() { fakeThread = FakeThread{}; }

OsThread OsThreadCreateSuspended(OsThreadProc procedure, void *argument) {
  if (fakeThread.failCreate) return nullptr;
  fakeThread.created++;
  return new OsThreadRecord{procedure, argument, false};
}

int OsThreadResume(OsThread thread) {
  if (thread == nullptr) return 0;
  fakeThread.resumed++;
  if (!thread->finished) {
    thread->finished = true;
    thread->procedure(thread->argument);
  }
  return 1;
}

int OsThreadWait(OsThread thread, int timeoutMs) {
  fakeThread.waited++;
  fakeThread.waitTimeouts.push_back(timeoutMs);
  if (thread == nullptr) return OS_WAIT_FAILED;
  fakeThread.ranBeforeWait = thread->finished;
  // A suspended thread that nobody resumed would wait for ever.
  return thread->finished ? OS_WAIT_OBJECT_0 : OS_WAIT_TIMEOUT;
}

void OsThreadClose(OsThread thread) {
  if (thread == nullptr) return;
  fakeThread.closed++;
  delete thread;
}
