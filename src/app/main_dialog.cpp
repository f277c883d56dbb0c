// The main dialog: who the module is and what it will get; on OK the
// checks and the user's word before the update worker starts.
#include "app/main_dialog.h"

#include <cstdio>
#include <cstring>

#include "app/main_dialog_run_info.h"
#include "app/pin_dialog.h"
#include "app/progress.h"
#include "app/state.h"
#include "app/worker.h"
#include "at.h"
#include "at_cmd.h"
#include "devices.h"
#include "module_interface.h"
#include "os/clock.h"
#include "os/dialog.h"
#include "os/thread.h"
#include "resource.h"
#include "trace_log.h"
#include "upgrade_log.h"
#include "version_control.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\app\\main_dialog";

enum {
  POLL_TIMER_ID = 110,
  POLL_PERIOD_MS = 1000,
  CHECK_TIMEOUT_MS = 4000,  // the update-state and PIN-state queries
  WAIT_NO_LIMIT = -1,
  // Quiet mode gives a module restarted out of its update mode this many
  // one-second polls to come back before OK judges it.
  RETURN_POLL_LIMIT = 120,
};

// End codes, and what an OK press may lead to besides them.
enum { MAIN_UPDATE_RAN = 1, MAIN_REFUSED = 2, MAIN_STAY_OPEN = 0 };

// The run's codes this dialog records.
enum { RESULT_UNKNOWN = 1, RESULT_NOT_SUPPORTED = 2, RESULT_SIM_MISSING = 3, RESULT_PIN_ERROR = 4 };

// Not a PinState: a query that names no state leaves this, which is not
// Ready, so an unanswered query asks for the code instead of reading an
// unset value.
enum { PIN_STATE_UNKNOWN = 0 };

static const char warningText[] =
    "This application will now update the firmware in the module.\n\n\n"
    "- Please make sure that you do not power off the laptop during the firmware update since a loss of power "
    "during the update could make the module unusable.\n"
    "- Please ensure that the laptop is running on AC plugged in power\nand NOT battery power.\n"
    "- The update procedure may take up to 15 min to complete.";

struct MainDialogState {
  int moduleState;     // 1 once a module was identified; never reset
  unsigned pollTimer;  // the running poll timer's id, 0 when none
  int busy;            // an OK press is being served: its boxes run nested loops
  int ended;
  // A module found in its update mode was sent the restart. The dialog
  // runs once per process, so this is once in the process's lifetime: a
  // module whose firmware cannot start comes back in update mode on every
  // restart and must not be restarted for ever.
  int restartedUpdateMode;
};

static MainDialogState mainDialog;

static void StopPoll(OsWindow dialog) {
  if (mainDialog.pollTimer == 0) return;
  OsStopTimer(dialog, mainDialog.pollTimer);
  mainDialog.pollTimer = 0;
}

static void End(OsWindow dialog, int code) {
  mainDialog.ended = 1;
  OsDialogEnd(dialog, code);
}

// Over the owner, or the desktop when there is none; the size stays.
static void Centre(OsWindow dialog) {
  OsRect outer, own;
  if (!OsGetWindowRect(OsGetParentOrDesktop(dialog), &outer) || !OsGetWindowRect(dialog, &own)) return;
  int width = own.right - own.left;
  int height = own.bottom - own.top;
  OsMoveWindowTo(dialog, outer.left + (outer.right - outer.left - width) / 2,
                 outer.top + (outer.bottom - outer.top - height) / 2);
}

static void ShowModule(OsWindow dialog, const ModuleInfo *info) {
  static char hardware[2 * MODULE_TEXT_SIZE];
  std::snprintf(hardware, sizeof hardware, "%s %s", info->productNumber, info->revision);
  OsSetItemText(dialog, IDC_MAIN_BUILD_DATE, info->buildDate);
  OsSetItemText(dialog, IDC_MAIN_HARDWARE, hardware);
  OsSetItemText(dialog, IDC_MAIN_FIRMWARE, info->softwareVersion);
  OsSetItemText(dialog, IDC_MAIN_MODEL, info->model);
  OsSetItemText(dialog, IDC_MAIN_IMEI, info->imei);
}

// A device that answered only the update-mode probe is a module left in
// its loader, which no identification reaches. Its restart brings back the
// firmware it has; discovery finds it again when it is back. Nothing is
// ever sent to it in that mode: which package would fit it is unknown.
static void RestartUpdateModeDevice() {
  if (theDevice == nullptr || (theDevice->deviceStatusBits & UpdateModeBit) == 0 || mainDialog.restartedUpdateMode)
    return;
  mainDialog.restartedUpdateMode = 1;
  TRACE(TRACE_WARNING, "Module found in update mode; restarting it\n");
  ATSendCmd(theDevice, cmdRestart.text, nullptr, 0, cmdRestart.timeoutMs);
  DeviceClose(theDevice);
  theDevice = nullptr;
}

// Looks for the module until one answers: a device that is open is asked
// again, never reopened; without one, discovery tries to open one.
static void PollModule(OsWindow dialog) {
  if (theDevice == nullptr) theDevice = SerialDeviceOpenAuto();
  RestartUpdateModeDevice();
  // Six 4000-byte fields: too large for a dialog procedure's stack frame.
  static ModuleInfo info;
  info = IdentifyModule(theDevice);
  if (std::strcmp(info.model, NoModuleFound) != 0) {
    mainDialog.moduleState = 1;
    StopPoll(dialog);
  }
  ShowModule(dialog, &info);
}

// MAIN_STAY_OPEN when the SIM lets the update go on, else the end code.
static int CheckSim(OsWindow dialog) {
  // A module that takes the update-state query needs no unlocked SIM.
  if (ATQueryUpdateMode(theDevice, CHECK_TIMEOUT_MS) == AT_SUCCESS) return MAIN_STAY_OPEN;
  int state = PIN_STATE_UNKNOWN;
  if (ATGetPinState(theDevice, &state, CHECK_TIMEOUT_MS) == AT_FAILURE) {
    ShowMessage(dialog, "Unable to check pin status", "ERROR", OS_MB_OK | OS_MB_ICONWARNING);
    SetUpdateResult(RESULT_SIM_MISSING);
    return MAIN_REFUSED;
  }
  if (state == Ready) return MAIN_STAY_OPEN;
  // Nobody is there to type a code in quiet mode; a PIN dialog that did
  // not accept a code, for whatever reason, leaves the SIM locked.
  if (quietMode || PinDialogRun(dialog) != PIN_ACCEPTED) {
    SetUpdateResult(RESULT_PIN_ERROR);
    return MAIN_REFUSED;
  }
  return MAIN_STAY_OPEN;
}

// Starts the worker behind the progress dialog and waits for it.
static int RunUpdate(OsWindow dialog) {
  OsInitProgressControls();
  workerThread = OsThreadCreateSuspended(UpdateWorker, nullptr);
  if (workerThread == nullptr) {
    TRACE(TRACE_WARNING, "Worker thread not created\n");
    SetUpdateResult(RESULT_UNKNOWN);
    return MAIN_REFUSED;
  }
  int progress = ProgressDialogRun(quietMode ? nullptr : dialog);
  if (progress == -1) {
    // The progress dialog resumes the worker when it is created: without
    // the dialog the worker never ran, and a wait for it would never end.
    TRACE(TRACE_WARNING, "Progress dialog not created\n");
    OsThreadClose(workerThread);
    workerThread = nullptr;
    SetUpdateResult(RESULT_UNKNOWN);
    return MAIN_REFUSED;
  }
  OsThreadWait(workerThread, WAIT_NO_LIMIT);
  OsThreadClose(workerThread);
  workerThread = nullptr;
  return MAIN_UPDATE_RAN;
}

static int ConfirmAndUpdate(OsWindow dialog) {
  if (!CheckVersionControl(theDevice, forceUpgrade, dialog, ShowMessage)) {
    SetUpdateResult(RESULT_NOT_SUPPORTED);
    return MAIN_REFUSED;
  }
  int sim = CheckSim(dialog);
  if (sim != MAIN_STAY_OPEN) return sim;
  // Declined, the dialog stays with its poll stopped; OK starts over.
  if (ShowMessage(dialog, warningText, "Warning", OS_MB_OKCANCEL | OS_MB_ICONWARNING) != OS_IDOK)
    return MAIN_STAY_OPEN;
  return RunUpdate(dialog);
}

static void OnOk(OsWindow dialog) {
  RunInfo info;
  CollectRunInfo(dialog, &info);
  UpgradeLogWrite("QuillonDlg OK Pressed\r\n");
  if (mainDialog.moduleState != 1) {
    End(dialog, MAIN_REFUSED);
    return;
  }
  mainDialog.busy = 1;
  int code = ConfirmAndUpdate(dialog);
  mainDialog.busy = 0;
  if (code != MAIN_STAY_OPEN) End(dialog, code);
}

static int OnInit(OsWindow dialog) {
  Centre(dialog);
  OsSetCaption(dialog, QUILLON_CAPTION);
  OsSetItemText(dialog, IDC_MAIN_TARGET, TargetVersionText(updateFilePath));
  PollModule(dialog);
  // OK follows at once in quiet mode: a module just restarted out of its
  // update mode is given its time to come back before it is judged. The
  // wait ends as soon as any device opens.
  for (int polls = 0; quietMode && mainDialog.restartedUpdateMode && mainDialog.moduleState == 0 &&
                      theDevice == nullptr && polls < RETURN_POLL_LIMIT;
       polls++) {
    OsSleep(POLL_PERIOD_MS);
    PollModule(dialog);
  }
  if (mainDialog.moduleState == 0) mainDialog.pollTimer = OsStartTimer(dialog, POLL_TIMER_ID, POLL_PERIOD_MS);
  // Before the dialog is shown: a quiet run never shows it at all.
  if (quietMode) OsSendCommand(dialog, OS_IDOK);
  return 1;
}

static void OnCommand(OsWindow dialog, int id) {
  // While OK is served, its boxes and dialogs run message loops of their
  // own; a command arriving through them must not start a second run.
  if (mainDialog.ended || mainDialog.busy) return;
  StopPoll(dialog);
  if (id == OS_IDOK) {
    OnOk(dialog);
  } else if (id == OS_IDCANCEL) {
    UpgradeLogWrite("QuillonDlg Cancel Pressed\r\n");
    End(dialog, MAIN_REFUSED);
  }
}

static void OnTimer(OsWindow dialog, unsigned id) {
  if (mainDialog.pollTimer != 0 && id == mainDialog.pollTimer && !mainDialog.busy) PollModule(dialog);
}

int MainDialogRun() {
  static const OsDialogLogic logic = {OnInit, OnCommand, OnTimer, nullptr, 0};
  mainDialog = MainDialogState{};
  return OsDialogRun(IDD_MAIN_DIALOG, nullptr, &logic);
}
