// Process exits recorded instead of taken; the crash handler kept so a
// test can play the crash.
#pragma once
#include <cstddef>
#include <vector>

extern std::vector<int> fakeExitCodes;
// How many lines the debugger output had seen at the last exit.
extern size_t fakeTraceLinesAtExit;
extern void (*fakeCrashHandler)();
// What OsProcessId answers.
extern unsigned long fakeProcessId;
