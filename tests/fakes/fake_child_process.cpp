// Child processes recorded instead of started.
#include "fakes/fake_child_process.h"

#include "fakes/fake_clock.h"

FakeChildProcess fakeChildProcess;

void FakeChildProcessReset() {
  fakeChildProcess = FakeChildProcess{};
  fakeChildProcess.nextHandle = 0x2000;
}

uint32_t OsChildStart(const char *application, char *commandLine, OsChild *child) {
  *child = OsChild{0, 0};
  uint32_t result = 0;
  if (!fakeChildProcess.startResults.empty()) {
    result = fakeChildProcess.startResults.front();
    fakeChildProcess.startResults.pop_front();
  }
  fakeChildProcess.starts.push_back(FakeChildStart{application != nullptr ? application : "(null)",
                                                   commandLine != nullptr ? commandLine : "(null)", result});
  if (result == 0) {
    child->process = fakeChildProcess.nextHandle;
    child->thread = fakeChildProcess.nextHandle + 4;
    fakeChildProcess.nextHandle += 8;
    fakeChildProcess.open.insert(child->process);
    fakeChildProcess.open.insert(child->thread);
  }
  if (fakeChildProcess.onStart != nullptr) fakeChildProcess.onStart(fakeChildProcess.starts.back());
  return result;
}

int OsChildWait(const OsChild *child, int timeoutMs) {
  fakeChildProcess.waitTimeouts.push_back(timeoutMs);
  if (child == nullptr || fakeChildProcess.open.count(child->process) == 0) return OS_WAIT_FAILED;
  int result = OS_WAIT_OBJECT_0;
  if (!fakeChildProcess.waitResults.empty()) {
    result = fakeChildProcess.waitResults.front();
    fakeChildProcess.waitResults.pop_front();
  }
  if (result == OS_WAIT_TIMEOUT && timeoutMs > 0) fakeClock.tick += (uint32_t)timeoutMs;
  return result;
}

void OsChildClose(OsChild *child) {
  if (child == nullptr) return;
  fakeChildProcess.open.erase(child->thread);
  fakeChildProcess.open.erase(child->process);
  *child = OsChild{0, 0};
}
