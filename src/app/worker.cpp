// The update worker: one run from the first package byte to the verified
// new firmware, on its own thread while the progress dialog shows it.
#include "app/worker.h"

#include <cstdint>
#include <cstring>

#include "app/dialogs/message_request.h"
#include "app/dialogs/progress.h"
#include "app/module_restart.h"
#include "app/run_record.h"
#include "at/at.h"
#include "device/devices.h"
#include "device_open/device_open.h"
#include "log/trace_log.h"
#include "log/upgrade_log.h"
#include "module_interface.h"
#include "os/clock.h"
#include "os/ui.h"
#include "update/sf_library.h"
#include "version_control/identify.h"
#include "version_control/packages.h"

static const unsigned traceThreshold = 3;
static const char traceSource[] = "..\\..\\..\\src\\app\\worker";

enum {
  // Both waits for the module's return share this many polls.
  WAIT_POLL_LIMIT = 1020,
  // The restart after a failed send waits this many polls of its own: it
  // is no update wait, and a module not back by then is left as it is.
  RECOVERY_POLL_LIMIT = 120,
};

// How a run can fail, with what the user is shown and the code it leaves.
enum WorkerFailure {
  WORKER_F1_FILE_SEND,
  WORKER_F2_NO_PATH,
  WORKER_F3_SAME_PACKAGE,
  WORKER_F4_PACKAGE_SEND,
  WORKER_F5_TIMEOUT,
  WORKER_F6_NOT_UPDATED,
};

struct FailureReport {
  bool ownedByProgress;  // the progress dialog owns the box, else none
  const char *text;
  const char *caption;
  unsigned style;
  UpdateResultCode code;
};

static const FailureReport failureReports[] = {
    {true,
     "The update procedure failed.\r\nPlease check that you have the right FW version for your module.",
     "Update Failed", OS_MB_ICONWARNING, RESULT_UPDATE_FAILED},
    {false, "No upgrade path found for this version.", "ERROR", OS_MB_ICONWARNING, RESULT_UPGRADE_PATH_ERROR},
    {false, "FW version did not change after update.", "ERROR", OS_MB_ICONWARNING, RESULT_VERSION_UNCHANGED},
    {true, "Please check that you have the right update package.", "Update Failed", OS_MB_ICONWARNING, RESULT_UPDATE_FAILED},
    {true, "Timeout while waiting for device to update the firmware.\r\n", "ERROR", OS_MB_OK, RESULT_TIMEOUT},
    {true, "The device was not updated.", "ERROR", OS_MB_OK, RESULT_VERSION_UNCHANGED},
};

static unsigned Fail(RunRecord *run, WorkerFailure failure) {
  const FailureReport &report = failureReports[failure];
  TRACE(TRACE_WARNING, "Update failed: %s (%d)\n", report.caption, report.code);
  // Shown by the interface thread, which owns the progress dialog: the
  // worker touches no window, not even as a box's owner.
  ShowMessageThrough(run->quiet, ProgressWindow, report.ownedByProgress ? ProgressWindow : nullptr, report.text, report.caption,
                     report.style);
  RunSetResult(run, report.code);
  EndProgress(PROGRESS_FAILURE);
  return 0;
}

static void SendModuleCommand(RunRecord *run, const ModuleCommand &command) {
  ATSendCmd(run->device, command.text, nullptr, 0, command.timeoutMs);
}

// The worker's module is the run's: what comes back becomes its device.
static void AwaitModule(RunRecord *run, int *polls, int limit) {
  // The share of the wait spent goes to the progress bar.
  run->device = WaitForModuleToReturn(polls, limit, SetPercent);
}

// The restart command, then, for a real port, its going away. The
// simulated module has no port to lose. Returns -1 when the port was
// still there at the bound.
static int Restart(RunRecord *run) {
  SendModuleCommand(run, cmdRestart);
  if (DeviceGetKind(run->device) == DEVICE_KIND_SIMULATOR) return 0;
  return WaitForPortToVanish(&run->device);
}

// Failures of a package file that was never read whole: the module heard
// nothing, and is still in AT mode running its firmware.
static bool NothingSent(int sendResult) {
  return sendResult == SFLIB_NO_DATA || sendResult == SFLIB_FILE_NOT_OPENED || sendResult == SFLIB_FILE_SHORT ||
         sendResult == SFLIB_NO_BUFFER;
}

// A send that failed may have left the module in its loader, where it
// answers only the update-mode probe and no later run can identify it. A
// restart is what a reboot of the laptop would do: a package that did
// not take leaves the old firmware, which the module starts again. Done
// once, with a wait of its own; the failure it follows is reported as it
// is, whatever the module does.
static void RestartAfterFailedSend(RunRecord *run) {
  SetStage(STAGE_WAIT_REBOOT);
  bool simulated = DeviceGetKind(run->device) == DEVICE_KIND_SIMULATOR;
  if (Restart(run) != 0) {
    TRACE(TRACE_WARNING, "Module not restarted after the failed update; its port stayed\n");
    return;
  }
  if (simulated) return;
  int polls = 0;
  AwaitModule(run, &polls, RECOVERY_POLL_LIMIT);
  if (run->device == nullptr)
    TRACE(TRACE_WARNING, "Module restarted after the failed update; not back\n");
  else if ((run->device->deviceStatusBits & DEVICE_STATUS_UPDATE_MODE) != 0)
    TRACE(TRACE_WARNING, "Module restarted after the failed update; still in update mode\n");
  else
    TRACE(TRACE_WARNING, "Module restarted after the failed update; back in AT mode\n");
}

static bool Identified(const ModuleInfo &info) {
  return std::strcmp(info.model, NoModuleFound) != 0 && info.buildDate[0] != '\0';
}

// The end of a delta chain has no build date to compare: a module that
// came back naming itself and a version is the success.
static bool NamesItsVersion(const ModuleInfo &info) {
  return std::strcmp(info.model, NoModuleFound) != 0 && info.softwareVersion[0] != '\0';
}

static void SendOptionalImage(RunRecord *run) {
  int result = -1;
  if (OptionalImageIsIntact())
    result = SFLibSendAssignment(run->device, OptionalAssignmentImage.image,
                                 (int32_t)OptionalAssignmentImage.imageLength, nullptr);
  UpgradeLogWrite(result != 0 ? "Quillon: Optional assignment 1 failed\r\n"
                              : "Quillon: Optional assignment 1 done\r\n");
}

static void ShowTitle(const PackageEntry *catalogue, int count, int index) {
  const PackageEntry &entry = catalogue[index];
  if (entry.fromVersion == nullptr || entry.fromVersion[0] == '\0') {
    TitlePrintf("Update full package to %s", entry.toVersion);
    return;
  }
  TitlePrintf("Upgrade package from %s to %s, (%d of %d delta%s)", entry.fromVersion, entry.toVersion, index,
              count, count - index > 1 ? "s" : "");
}

unsigned UpdateWorker(void *run) {
  return UpdateWorkerOver((RunRecord *)run, PackageCatalogue, PackageCatalogueCount());
}

unsigned UpdateWorkerOver(RunRecord *run, const PackageEntry *catalogue, int count) {
  // Large records: one of each for the whole run, off the thread's stack.
  static ModuleInfo info;
  static char beforeBuildDate[MODULE_TEXT_SIZE];
  static char beforeVersion[MODULE_TEXT_SIZE];
  int lastIndex = -1;

  for (;;) {
    info = IdentifyModule(run->device);
    std::memcpy(beforeBuildDate, info.buildDate, sizeof beforeBuildDate);
    info = IdentifyModule(run->device);
    std::memcpy(beforeVersion, info.softwareVersion, sizeof beforeVersion);

    bool delta = false;
    if (run->packageFile != nullptr) {
      int sent = SFLibSendAssignmentFile(run->device, run->packageFile, OnProgress);
      if (sent != SFLIB_OK) {
        if (!NothingSent(sent)) RestartAfterFailedSend(run);
        return Fail(run, WORKER_F1_FILE_SEND);
      }
    } else {
      info = IdentifyModule(run->device);
      int index = -1;
      PackageStep step = PackageWalkStep(catalogue, count, info.softwareVersion, lastIndex, &index);
      if (step == PACKAGE_STEP_NO_PATH) return Fail(run, WORKER_F2_NO_PATH);
      if (step == PACKAGE_STEP_END) {
        // The end of a delta chain is only a success for a module that
        // came back as itself; one stuck in its loader reports nothing.
        if (!NamesItsVersion(info)) return Fail(run, WORKER_F6_NOT_UPDATED);
        break;
      }
      if (step == PACKAGE_STEP_REPEAT) return Fail(run, WORKER_F3_SAME_PACKAGE);
      lastIndex = index;
      ShowTitle(catalogue, count, index);
      const PackageEntry &entry = catalogue[index];
      // A damaged image fails like a refused transfer, before any byte.
      if (!PackageIsIntact(&entry)) return Fail(run, WORKER_F4_PACKAGE_SEND);
      int sent = SFLibSendAssignment(run->device, entry.image, (int32_t)entry.imageLength, OnProgress);
      if (sent != SFLIB_OK) {
        if (!NothingSent(sent)) RestartAfterFailedSend(run);
        return Fail(run, WORKER_F4_PACKAGE_SEND);
      }
      delta = PackageIsDelta(&entry);
    }

    SetStage(STAGE_WAIT_REBOOT);
    bool simulated = DeviceGetKind(run->device) == DEVICE_KIND_SIMULATOR;
    if (Restart(run) != 0) return Fail(run, WORKER_F5_TIMEOUT);
    SetStage(STAGE_WAIT_UPDATE);
    int polls = 0;
    if (!simulated) AwaitModule(run, &polls, WAIT_POLL_LIMIT);
    if (polls < WAIT_POLL_LIMIT && run->device != nullptr) {
      SendOptionalImage(run);
      SendModuleCommand(run, cmdBack);
      if (Restart(run) != 0) return Fail(run, WORKER_F5_TIMEOUT);
      if (!simulated) AwaitModule(run, &polls, WAIT_POLL_LIMIT);
    }
    SetPercent(100);
    if (polls >= WAIT_POLL_LIMIT) return Fail(run, WORKER_F5_TIMEOUT);
    if (delta) continue;

    info = IdentifyModule(run->device);
    bool reinstall = std::strcmp(TargetVersionText(run->packageFile), beforeVersion) == 0;
    if (!Identified(info) || (std::strcmp(info.buildDate, beforeBuildDate) == 0 && !reinstall))
      return Fail(run, WORKER_F6_NOT_UPDATED);
    break;
  }

  ShowMessageThrough(run->quiet, ProgressWindow, ProgressWindow, "The update procedure has now completed successfully.",
                     "Update successful", OS_MB_OK);
  EndProgress(PROGRESS_SUCCESS);
  return 0;
}
