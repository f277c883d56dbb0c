// Threads that run on the test's own thread.
#include "fakes/fake_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

struct OsThreadRecord {
  OsThreadProc procedure;
  void *argument;
  bool resumed;
  bool running;
  bool finished;
  size_t index;  // into fakeThread.history
};

FakeThread fakeThread;
static std::deque<OsThread> due;  // resumed, not yet run
static OsThread current;
static int turn;  // counts creations and closes

void FakeThreadReset() {
  fakeThread = FakeThread{};
  due.clear();
  current = nullptr;
  turn = 0;
}

static void RunToEnd(OsThread thread) {
  due.erase(std::remove(due.begin(), due.end(), thread), due.end());
  thread->running = true;
  OsThread outer = FakeThreadSwitch(thread);
  thread->procedure(thread->argument);
  FakeThreadSwitch(outer);
  thread->running = false;
  thread->finished = true;
}

bool FakeThreadRunOne() {
  if (due.empty()) return false;
  RunToEnd(due.front());
  return true;
}

void FakeThreadRunResumed() {
  while (FakeThreadRunOne()) {
  }
}

OsThread FakeThreadCurrent() { return current; }

OsThread FakeThreadSwitch(OsThread thread) {
  OsThread outer = current;
  current = thread;
  return outer;
}

OsThread OsThreadCreateSuspended(OsThreadProc procedure, void *argument) {
  if (fakeThread.failCreate) return nullptr;
  fakeThread.created++;
  fakeThread.history.push_back(FakeThreadHistory{procedure, 0, {}, false, false, ++turn, 0});
  return new OsThreadRecord{procedure, argument, false, false, false, fakeThread.history.size() - 1};
}

int OsThreadResume(OsThread thread) {
  if (thread == nullptr || fakeThread.failResume) return 0;
  fakeThread.resumed++;
  fakeThread.history[thread->index].resumed++;
  if (!thread->resumed) {
    thread->resumed = true;
    due.push_back(thread);
  }
  return 1;
}

int OsThreadWait(OsThread thread, int timeoutMs) {
  fakeThread.waited++;
  fakeThread.waitTimeouts.push_back(timeoutMs);
  if (thread == nullptr) return OS_WAIT_FAILED;
  fakeThread.ranBeforeWait = thread->finished;
  fakeThread.history[thread->index].waitTimeouts.push_back(timeoutMs);
  fakeThread.history[thread->index].ranBeforeWait = thread->finished;
  if (fakeThread.failWait) return OS_WAIT_FAILED;
  // The thread is inside a synchronous request that the waiter would
  // have to serve: on Windows neither would ever go on.
  if (thread->running) {
    ADD_FAILURE() << "a wait for a thread that is waiting for the waiter";
    return OS_WAIT_TIMEOUT;
  }
  // A resumed thread ends in its own time; the wait sees it end.
  if (thread->resumed && !thread->finished) RunToEnd(thread);
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
  fakeThread.history[thread->index].closed = true;
  fakeThread.history[thread->index].closedAt = ++turn;
  due.erase(std::remove(due.begin(), due.end(), thread), due.end());
  delete thread;
}

FakeThreadHistory FakeThreadOf(OsThreadProc procedure, int *created) {
  FakeThreadHistory merged{procedure, 0, {}, false, true, 0, 0};
  int count = 0;
  for (const FakeThreadHistory &thread : fakeThread.history) {
    if (thread.procedure != procedure) continue;
    count++;
    merged.resumed += thread.resumed;
    merged.waitTimeouts.insert(merged.waitTimeouts.end(), thread.waitTimeouts.begin(), thread.waitTimeouts.end());
    merged.ranBeforeWait = thread.ranBeforeWait;
    merged.closed = merged.closed && thread.closed;
    merged.createdAt = merged.createdAt == 0 ? thread.createdAt : merged.createdAt;
    merged.closedAt = thread.closedAt;
  }
  if (created != nullptr) *created = count;
  return merged;
}
