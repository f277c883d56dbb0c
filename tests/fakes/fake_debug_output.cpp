// Debugger output captured line by line.
#include "fakes/fake_debug_output.h"

#include "os/debug_output.h"

std::vector<std::string> fakeDebugLines;
void (*fakeDebugOutputHook)(const char *line);

void OsDebugOutput(const char *line) {
  if (fakeDebugOutputHook != nullptr) fakeDebugOutputHook(line);
  fakeDebugLines.push_back(line);
}
