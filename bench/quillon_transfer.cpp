// Quillon's own transfer for the benchmark: the product's device and
// protocol code, built as the product builds it, sends the embedded full
// package on a COM port, as the update worker does.
//
//   bench_quillon PORT [--mark] [--direct]
//
// The device is opened with its mode probe, then SFLibSendAssignment
// opens the update-mode link and sends PackageCatalogue[0] from the
// program's read-only data. The progress callback only counts: the bench
// measures the protocol, not the progress dialog.
//
// The trace runs as in the product: its own thread, started first, and
// drained before the program ends. --direct leaves the thread out, so
// each TraceLog call writes its own line, as the trace did before it had
// a thread: the "before" of the same build.
//
// --mark sends one line to the debugger output when the chunks start and
// one when the assignment has returned, so that a check run can count the
// trace lines of the transfer alone. Timed runs go without.
//
// Prints "open <result>", then "result <code> progress <calls> length <n>",
// and exits with the assignment's result code (0 on success).
#include <cstdio>
#include <cstring>

#include "device/devices.h"
#include "device_open/device_open.h"
#include "log/trace_log.h"
#include "module_interface.h"
#include "os/debug_output.h"
#include "update/sf_library.h"
#include "version_control/packages.h"

namespace {

bool mark;
int progressCalls;

void OnProgress(unsigned stage, const SFProgressPair *pair) {
  progressCalls++;
  if (mark && stage == 7 && pair == nullptr) {
    TraceFlush();  // the mark goes straight out: the lines before it first
    OsDebugOutput("bench: chunks start\n");
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_quillon PORT [--mark] [--direct]\n");
    return 2;
  }
  bool direct = false;
  for (int i = 2; i < argc; i++) {
    if (std::strcmp(argv[i], "--mark") == 0) mark = true;
    else if (std::strcmp(argv[i], "--direct") == 0) direct = true;
    else return 2;
  }
  if (!direct) TraceStart();

  SerialDevice *device = nullptr;
  int opened = SerialDeviceOpen(&device, argv[1], MODULE_BAUD);
  std::printf("open %d\n", opened);
  if (opened != 0) {
    DeviceClose(device);
    TraceFlush();
    return 2;
  }
  const PackageEntry &package = PackageCatalogue[0];
  int result = SFLibSendAssignment(device, package.image, (int32_t)package.imageLength, OnProgress);
  TraceFlush();
  if (mark) OsDebugOutput("bench: assignment returned\n");
  DeviceClose(device);
  TraceFlush();
  std::printf("result %d progress %d length %u\n", result, progressCalls, (unsigned)package.imageLength);
  return result;
}
