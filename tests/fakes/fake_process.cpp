// Process exits recorded instead of taken.
#include "fakes/fake_process.h"

#include "fakes/fake_debug_output.h"
#include "os/process.h"

std::vector<int> fakeExitCodes;
void (*fakeCrashHandler)();
size_t fakeTraceLinesAtExit;
unsigned long fakeProcessId = 4242;

unsigned long OsProcessId() { return fakeProcessId; }

void OsExitProcess(int code) {
  fakeExitCodes.push_back(code);
  fakeTraceLinesAtExit = fakeDebugLines.size();
}

void OsSetCrashHandler(void (*handler)()) { fakeCrashHandler = handler; }
