// Child processes recorded instead of started; starts and waits answer
// from a script.
//
//   FakeChildProcessReset();
//   fakeChildProcess.startResults.push_back(OS_ERROR_ACCESS_DENIED);  // the next start fails
//   fakeChildProcess.waitResults.push_back(OS_WAIT_TIMEOUT);          // the next wait times out
//
// With nothing queued a start succeeds and a wait sees the child end. A
// wait that times out spends its whole time-out on the virtual clock.
#pragma once
#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

#include "os/child_process.h"

struct FakeChildStart {
  std::string application;  // "(null)" when none was given
  std::string commandLine;
  uint32_t result;
};

struct FakeChildProcess {
  std::vector<FakeChildStart> starts;
  std::deque<uint32_t> startResults;
  std::deque<int> waitResults;
  std::vector<int> waitTimeouts;
  std::set<uintptr_t> open;  // handles given out and not yet closed
  uintptr_t nextHandle;
  // Called at each start, after it is recorded: lets a test look at the
  // rest of the world at that moment.
  void (*onStart)(const FakeChildStart &start);
};

extern FakeChildProcess fakeChildProcess;
void FakeChildProcessReset();
