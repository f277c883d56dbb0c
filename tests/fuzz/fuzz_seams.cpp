// The rest of the OS seam the parsers' traces reach: a trace line is
// built in full and then dropped, so a long run keeps no memory of it.
#include <cstdlib>
#include <cstring>

#include "os/debug_output.h"
#include "os/process.h"

// Read to the end, so a line that is not terminated shows under ASan.
void OsDebugOutput(const char *line) {
  volatile size_t length = std::strlen(line);
  (void)length;
}

// Only a FATAL trace line ends the process; the parsers write none.
void OsExitProcess(int) { std::abort(); }

// The parsers never start the trace thread, which is what sets it.
void OsSetCrashHandler(void (*)()) {}
