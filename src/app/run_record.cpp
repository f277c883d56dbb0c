// One run of the updater.
#include "app/run_record.h"

#include "log/trace_log.h"

void RunRecordReset(RunRecord *run) { *run = RunRecord{}; }

int ShowMessage(int quiet, OsWindow owner, const char *text, const char *caption, unsigned style) {
  if (quiet) return 1;
  // A box can stand for long: the trace before it is out first.
  TraceFlush();
  return OsMessageBox(owner, text, caption, style);
}

// The worker and the interface thread may both record a code: one
// compare-and-swap, so the first non-zero code wins and none is torn.
// (The builtin, as C++17 has no atomic view of a plain int.)
void RunSetResult(RunRecord *run, int code) {
  int unset = 0;
  __atomic_compare_exchange_n(&run->result, &unset, code, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
}
