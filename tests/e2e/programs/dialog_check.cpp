// Runs the progress and PIN dialogs for real, for the Wine tests.
//
//   dialog_check progress CODE   a stand-in worker drives the progress
//                                dialog, then ends it with CODE (1 or 2)
//   dialog_check noworker        the progress dialog with no worker to start
//   dialog_check pin PORT        the PIN dialog over the module on PORT
//
// The stand-in worker stops twice so a test can look at the dialog: at
// the start, before it changes anything, and mid-transfer at 42%. It
// prints "hold N" and goes on once the file "goN" exists in the current
// folder (or after a minute). Last line: "result <dialog code> <run result>"
// or "pin <code>". Exit code 0, or 2 for a bad command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/dialogs/pin_dialog.h"
#include "app/dialogs/progress.h"
#include "app/run_record.h"
#include "device/devices.h"
#include "device_open/device_open.h"
#include "module_interface.h"
#include "os/clock.h"
#include "os/thread.h"

namespace {

enum { HOLD_POLL_MS = 50, HOLD_LIMIT_MS = 60000, CHUNK = 8192 };

// A package of 10 MiB, sent in the protocol's chunks.
const int32_t packageLength = 10 * 1024 * 1024;
int endCode = 1;

void Hold(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "go%d", number);
  std::printf("hold %d\n", number);
  for (int waited = 0; waited < HOLD_LIMIT_MS; waited += HOLD_POLL_MS) {
    if (std::FILE *file = std::fopen(name, "rb")) {
      std::fclose(file);
      return;
    }
    OsSleep(HOLD_POLL_MS);
  }
}

void Acknowledge(int32_t sent) {
  SFProgressPair pair = {sent, packageLength};
  OnProgress(7, &pair);
}

// What the update worker does to the dialog in a run, with the update
// protocol's reports in their order.
unsigned StandInWorker(void *) {
  Hold(1);
  TitlePrintf("Update full package to %s", "R1D07");
  OnProgress(0, nullptr);
  OnProgress(1, nullptr);
  OnProgress(2, nullptr);
  OnProgress(7, nullptr);
  // 538 chunks are 42% of the package: the first sample starts the clock.
  static const int32_t chunks[] = {1, 180, 360, 538};
  for (int32_t count : chunks) {
    Acknowledge(count * CHUNK);
    OsSleep(100);
  }
  Hold(2);
  Acknowledge(packageLength);
  SetStage(STAGE_WAIT_REBOOT);
  SetStage(STAGE_WAIT_UPDATE);
  SetPercent(100);
  EndProgress((ProgressEnd)endCode);
  return 0;
}

int RunProgress(bool withWorker) {
  RunRecord run;
  RunRecordReset(&run);
  if (withWorker) {
    run.worker = OsThreadCreateSuspended(StandInWorker, &run);
    if (run.worker == nullptr) return 1;
  }
  int code = ProgressDialogRun(&run, nullptr);
  if (run.worker != nullptr) {
    OsThreadWait(run.worker, -1);
    OsThreadClose(run.worker);
  }
  std::printf("result %d %d\n", code, run.result);
  return 0;
}

int RunPin(const char *port) {
  SerialDevice *device = nullptr;
  int opened = SerialDeviceOpen(&device, port, MODULE_BAUD);
  std::printf("open %d\n", opened);
  std::printf("pin %d\n", PinDialogRun(nullptr, device, 0));
  DeviceClose(device);
  return 0;
}

int Usage() {
  std::fprintf(stderr, "usage: dialog_check progress 1|2 | noworker | pin PORT\n");
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc == 3 && std::strcmp(argv[1], "progress") == 0) {
    endCode = std::atoi(argv[2]);
    return RunProgress(true);
  }
  if (argc == 2 && std::strcmp(argv[1], "noworker") == 0) return RunProgress(false);
  if (argc == 3 && std::strcmp(argv[1], "pin") == 0) return RunPin(argv[2]);
  return Usage();
}
