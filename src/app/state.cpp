// Process-wide state of the application.
#include "app/state.h"

#include <cstring>

#include "log/trace_log.h"

SerialDevice *theDevice;
const char *updateFilePath;
int quietMode;
int forceUpgrade;
char portName[PORT_NAME_SIZE];
int UpdateResult;
OsThread workerThread;

int ShowMessage(OsWindow owner, const char *text, const char *caption, unsigned style) {
  if (quietMode) return quietMode;
  // A box can stand for long: the trace before it is out first.
  TraceFlush();
  return OsMessageBox(owner, text, caption, style);
}

// The worker and the interface thread may both record a code: one
// compare-and-swap, so the first non-zero code wins and none is torn.
// (The builtin, as C++17 has no atomic view of a plain int.)
void SetUpdateResult(int code) {
  int unset = 0;
  __atomic_compare_exchange_n(&UpdateResult, &unset, code, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}

void ResetProcessState() {
  theDevice = nullptr;
  updateFilePath = nullptr;
  quietMode = 0;
  forceUpgrade = 0;
  std::memset(portName, 0, sizeof portName);
  UpdateResult = RESULT_SUCCESS;
  workerThread = nullptr;
}
