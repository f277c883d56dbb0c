// Threads that run on the test's own thread.
#include "fakes/fake_thread.h"

#include <gtest/gtest.h>

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
  if (thread == nullptr || fakeThread.failResume) return 0;
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
  if (thread == nullptr || fakeThread.failWait) return OS_WAIT_FAILED;
  fakeThread.ranBeforeWait = thread->finished;
  // A suspended thread that nobody resumed never ends: on Windows that
  // wait hangs the process, so here it fails the test.
  if (!thread->finished) {
    ADD_FAILURE() << "a wait on a thread that nobody resumed never ends";
    return OS_WAIT_TIMEOUT;
  }
  return OS_WAIT_OBJECT_0;
}

void OsThreadClose(OsThread thread) {
  if (thread == nullptr) return;
  fakeThread.closed++;
  delete thread;
}
