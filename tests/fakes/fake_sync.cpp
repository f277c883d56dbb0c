// Mutexes that count what was done to them.
#include "fakes/fake_sync.h"

#include "os/sync.h"

struct OsMutexRecord {
  int held;
};

FakeSync fakeSync;

void FakeSyncReset() { fakeSync = FakeSync{}; }

OsMutex OsMutexCreate() {
  if (fakeSync.failCreate) return nullptr;
  fakeSync.created++;
  return new OsMutexRecord{0};
}

int OsMutexWait(OsMutex mutex, int timeoutMs) {
  fakeSync.waits++;
  fakeSync.lastTimeout = timeoutMs;
  if (mutex == nullptr) return OS_WAIT_FAILED;
  int result = OS_WAIT_OBJECT_0;
  if (!fakeSync.waitResults.empty()) {
    result = fakeSync.waitResults.front();
    fakeSync.waitResults.pop_front();
  }
  if (result == OS_WAIT_OBJECT_0 || result == OS_WAIT_ABANDONED) mutex->held++;
  return result;
}

int OsMutexRelease(OsMutex mutex) {
  fakeSync.releases++;
  if (mutex == nullptr || mutex->held == 0) return 0;
  mutex->held--;
  return 1;
}

void OsMutexDestroy(OsMutex mutex) {
  if (mutex == nullptr) return;
  fakeSync.destroyed++;
  delete mutex;
}
