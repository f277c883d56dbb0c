// The main dialog: who the module is and what it will get; on OK the
// checks and the user's word before the update worker starts.
#include "app/dialogs/main_dialog.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/dialogs/exchange_thread.h"
#include "app/dialogs/main_dialog_phase.h"
#include "app/dialogs/main_dialog_run_info.h"
#include "app/dialogs/message_request.h"
#include "app/dialogs/pin_dialog.h"
#include "app/dialogs/progress.h"
#include "app/module_restart.h"
#include "app/power_check.h"
#include "app/run_record.h"
#include "app/worker.h"
#include "at/at.h"
#include "at/at_cmd.h"
#include "device/devices.h"
#include "device_open/device_open.h"
#include "log/trace_log.h"
#include "log/upgrade_log.h"
#include "module_interface.h"
#include "os/clock.h"
#include "os/dialog.h"
#include "os/sync.h"
#include "os/thread.h"
#include "resource.h"
#include "version_control/check.h"
#include "version_control/identify.h"
#include "version_control/packages.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\app\\dialogs\\main_dialog";

enum {
  POLL_TIMER_ID = 110,
  POLL_PERIOD_MS = 1000,
  CHECK_TIMEOUT_MS = 4000,  // the update-state and PIN-state queries
  WAIT_NO_LIMIT = -1,
  // Quiet mode gives a module restarted out of its update mode this many
  // one-second polls to come back before OK judges it.
  RETURN_POLL_LIMIT = 120,
  // A module whose loader is seen this many times in all after its
  // restart is back in its loader for good (its firmware does not start):
  // quiet mode stops waiting for it. In all, not in a row: a module in a
  // boot loop shows its loader only between polls that find nothing. A
  // loader on its way to the firmware is gone well before.
  LOADER_SIGHTING_LIMIT = 10,
};

// What an OK press may lead to besides the end codes.
enum { MAIN_STAY_OPEN = 0 };

static const char warningText[] =
    "This application will now update the firmware in the module.\n\n\n"
    "- Please make sure that you do not power off the laptop during the firmware update since a loss of power "
    "during the update could make the module unusable.\n"
    "- Please ensure that the laptop is running on AC plugged in power\nand NOT battery power.\n"
    "- The update procedure may take up to 15 min to complete.";

// The requests this dialog serves. The threads that ask the module hand
// their result back with one synchronous request each, as their last act;
// whatever follows runs after they have ended.
enum MainRequest {
  REQUEST_POLL_DONE,    // value: the PollRecord; from the poll
  REQUEST_CHECKS_DONE,  // value: the checks' outcome, an end code or MAIN_STAY_OPEN
  REQUEST_PIN_DIALOG,   // value: where the PIN dialog's end code goes; from the checks
  REQUEST_CONTINUE,     // posted: the thread that reported has ended
};

// What one poll asked and found. The device is moved in from the run (the
// run has none while the poll is out) and comes out opened when it was
// none, or closed when the poll restarted the module; the interface moves
// it back into the run.
struct PollRecord {
  SerialDevice *device;
  ModuleInfo info;
};

// Written by the interface thread, but for restartedUpdateMode and
// loaderSightings, which the poll writes (one poll at a time, and in quiet
// mode on the interface thread itself).
struct MainDialogState {
  MainPhase phase;     // see main_dialog_phase.h for its steps
  bool identified;     // a module was identified; never reset
  unsigned pollTimer;  // the running poll timer's id, 0 when none
  bool pollStopped;    // a command stopped the poll for good
  // The poll or checks thread that asks the module (in PollOut and
  // ChecksOut), from its start until the interface thread has waited for
  // its end; none when the step ran on the interface thread.
  OsThread helper;
  // Cancel (or the close box) came while PollOut; served once the poll
  // has reported (a poll waiting for a restarted module's port is told to
  // give up through abandonRestartWait). OK is greyed meanwhile, and does
  // nothing if it comes anyway.
  bool pendingCancel;
  // OK had the keyboard focus when a poll greyed it (which takes the focus
  // away), or the dialog had not given its first focus yet (which passes a
  // greyed OK over): the report gives it back, and leaves it where the user
  // put it otherwise.
  bool okLostFocus;
  int checksOutcome;   // in ChecksOut once reported: MAIN_STAY_OPEN or the end code
  // A module found in its update mode was sent the restart. The dialog
  // runs once per process, so this is once in the process's lifetime: a
  // module whose firmware cannot start comes back in update mode on every
  // restart and must not be restarted for ever. Written by one poll at a
  // time.
  int restartedUpdateMode;
  // Polls since that restart that found only the loader, in all.
  int loaderSightings;
};

// Set by the interface thread when Cancel comes while a poll waits for a
// restarted module's port to go: the wait is given up for it.
static std::atomic<int> abandonRestartWait;

static MainDialogState mainDialog;
// The run the open dialog serves; the dialog logic takes no context.
static RunRecord *mainRun;

// Every change of phase goes through the table; a step it does not allow
// is a fault of this file's logic, traced and not taken.
static void Step(MainStep step) {
  MainPhase next = MainPhaseAfter(mainDialog.phase, step);
  if (next == MainPhase::Invalid) {
    TRACE(TRACE_WARNING, "Main dialog: step %d not allowed in phase %d\n", (int)step, (int)mainDialog.phase);
    return;
  }
  mainDialog.phase = next;
}

// Six 4000-byte fields: too large for a thread's or a procedure's frame.
// One poll is out at a time.
static PollRecord pollRecord;

static void StopPoll(OsWindow dialog) {
  mainDialog.pollStopped = true;
  if (mainDialog.pollTimer == 0) return;
  OsStopTimer(dialog, mainDialog.pollTimer);
  mainDialog.pollTimer = 0;
}

static void End(OsWindow dialog, int code) {
  Step(MainStep::Ended);
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

// ---- Off the interface thread ----------------------------------------------
// A silent module holds each exchange for seconds; a window that answers
// no message for five is marked as not responding and offered to be ended.

// A device that answered only the update-mode probe is a module left in
// its loader, which no identification reaches. Its restart brings back the
// firmware it has; discovery finds it again when it is back. Nothing is
// ever sent to it in that mode: which package would fit it is unknown.
//
// The restart is waited out as the worker waits: a module answers it and
// stays on the bus for a moment, still in its loader, and a reopen then
// would find it on its way out. After the restart, a device that answers
// only the update-mode probe is not the module's return: it is closed, so
// the next poll opens afresh whatever the module has become by then.
static void RestartUpdateModeDevice(PollRecord *poll) {
  if (poll->device == nullptr || (poll->device->deviceStatusBits & DEVICE_STATUS_UPDATE_MODE) == 0) return;
  if (mainDialog.restartedUpdateMode) {
    mainDialog.loaderSightings++;
    DeviceClose(poll->device);
    poll->device = nullptr;
    return;
  }
  mainDialog.restartedUpdateMode = 1;
  TRACE(TRACE_WARNING, "Module found in update mode; restarting it\n");
  ATSendCmd(poll->device, cmdRestart.text, nullptr, 0, cmdRestart.timeoutMs);
  if (WaitForPortToVanish(&poll->device, &abandonRestartWait) != 0) {
    DeviceClose(poll->device);
    poll->device = nullptr;
  }
}

// One look for the module: a device that is open is asked again, never
// reopened; without one, discovery tries to open one. Touches neither
// the run's device nor the dialog.
static void PollOnce(PollRecord *poll) {
  if (poll->device == nullptr) poll->device = SerialDeviceOpenAuto();
  RestartUpdateModeDevice(poll);
  poll->info = IdentifyModule(poll->device);
}

static unsigned PollThread(void *dialog) {
  PollOnce(&pollRecord);
  OsSendRequest((OsWindow)dialog, REQUEST_POLL_DONE, (intptr_t)&pollRecord);
  return 0;
}

// The PIN dialog belongs to the interface thread; the checks ask for it.
static int PinDialogThrough(OsWindow dialog) {
  int code = PIN_CANCELLED;
  OsSendRequest(dialog, REQUEST_PIN_DIALOG, (intptr_t)&code);
  return code;
}

// MAIN_STAY_OPEN when the SIM lets the update go on, else the end code.
static int CheckSim(OsWindow dialog) {
  SimCheck sim = ATCheckSim(mainRun->device, CHECK_TIMEOUT_MS);
  if (sim == SIM_CHECK_UNREADABLE) {
    ShowMessageThrough(mainRun->quiet, dialog, dialog, "Unable to check pin status", "ERROR", OS_MB_OK | OS_MB_ICONWARNING);
    RunSetResult(mainRun, RESULT_SIM_MISSING);
    return MAIN_REFUSED;
  }
  if (sim == SIM_CHECK_NOT_NEEDED || sim == SIM_CHECK_READY) return MAIN_STAY_OPEN;
  // Nobody is there to type a code in quiet mode; a PIN dialog that did
  // not accept a code, for whatever reason, leaves the SIM locked.
  if (mainRun->quiet || PinDialogThrough(dialog) != PIN_ACCEPTED) {
    RunSetResult(mainRun, RESULT_PIN_ERROR);
    return MAIN_REFUSED;
  }
  return MAIN_STAY_OPEN;
}

// OK's checks: the version control, then the SIM. Their boxes and the PIN
// dialog are shown by the interface thread.
static unsigned ChecksThread(void *argument) {
  OsWindow dialog = (OsWindow)argument;
  int outcome = MAIN_STAY_OPEN;
  VersionCheck check = CheckVersionControl(mainRun->device, mainRun->forced, VC_FORCED_RECORD_WRITTEN);
  if (!check.passed) {
    ShowMessageOnOwnersThread(dialog, check.refusal, "ERROR", OS_MB_OK | OS_MB_ICONWARNING);
    RunSetResult(mainRun, RESULT_NOT_SUPPORTED);
    outcome = MAIN_REFUSED;
  } else {
    outcome = CheckSim(dialog);
  }
  OsSendRequest(dialog, REQUEST_CHECKS_DONE, outcome);
  return 0;
}

// Runs `procedure` on a thread of its own. In quiet mode, and when no
// thread can be had, it runs here: a quiet run does it all before the
// dialog is ever shown, so no window waits on screen meanwhile.
static void StartHelper(OsWindow dialog, OsThreadProc procedure) {
  if (!mainRun->quiet) {
    mainDialog.helper = StartExchangeThread(procedure, dialog);
    if (mainDialog.helper != nullptr) return;
    TRACE(TRACE_WARNING, "No thread to ask the module on; asking it from the dialog\n");
  }
  procedure(dialog);
}

// The poll may close the device (a module it restarts) or open one: the
// run holds none until the report hands it back. OK waits greyed: only
// the report can say whether there is a module to check.
static void StartPoll(OsWindow dialog) {
  Step(MainStep::PollStarted);
  pollRecord.device = mainRun->device;
  mainRun->device = nullptr;
  if (OsFocusedItem(dialog) == OS_IDOK) mainDialog.okLostFocus = true;
  OsEnableItem(dialog, OS_IDOK, 0);
  StartHelper(dialog, PollThread);
}

// ---- Back on the interface thread ------------------------------------------

static int RunUpdate(OsWindow dialog);

// The last check before the first byte: a battery too low to finish the
// flash refuses it. Interactive, the user plugs in and presses OK again;
// quiet, the run ends with its own code.
static int PowerLetsUpdateStart(OsWindow dialog) {
  PowerReading power = ReadPower();
  if (!PowerRefusesUpdate(&power)) return 1;
  TRACE(TRACE_WARNING, "On battery at %d %% (AC line %u, battery flag %u, life %u); the update is not started\n",
        power.batteryPercent, power.acLineStatus, power.batteryFlag, power.batteryLifePercent);
  char text[160];
  PowerRefusalText(&power, text, sizeof text);
  ShowMessage(mainRun->quiet, dialog, text, "Warning", OS_MB_OK | OS_MB_ICONWARNING);
  if (mainRun->quiet) RunSetResult(mainRun, RESULT_BATTERY_LOW);
  return 0;
}

// After the warning: the update, or the dialog again.
static void FinishOk(OsWindow dialog, int outcome) {
  // Declined, the dialog stays with its poll stopped; OK starts over. So
  // does a refusal for the battery, but a quiet run has no second press.
  if (outcome == MAIN_STAY_OPEN) {
    Step(MainStep::ChecksPassed);
    if (ShowMessage(mainRun->quiet, dialog, warningText, "Warning", OS_MB_OKCANCEL | OS_MB_ICONWARNING) == OS_IDOK &&
        PowerLetsUpdateStart(dialog)) {
      Step(MainStep::WarningAccepted);
      outcome = RunUpdate(dialog);
    } else {
      Step(MainStep::WarningDeclined);
      if (mainRun->quiet) outcome = MAIN_REFUSED;
    }
  }
  if (outcome != MAIN_STAY_OPEN) {
    End(dialog, outcome);
    return;
  }
  EnableOkCancel(dialog, 1);
  OsFocusItem(dialog, OS_IDOK);
}

static void OnOk(OsWindow dialog) {
  RunInfo info;
  CollectRunInfo(mainRun, dialog, &info);
  UpgradeLogWrite("QuillonDlg OK Pressed\r\n");
  if (!mainDialog.identified) {
    End(dialog, MAIN_REFUSED);
    return;
  }
  Step(MainStep::ChecksStarted);
  EnableOkCancel(dialog, 0);
  StartHelper(dialog, ChecksThread);
}

static void Serve(OsWindow dialog, int id) {
  if (id == OS_IDOK) {
    OnOk(dialog);
  } else if (id == OS_IDCANCEL) {
    UpgradeLogWrite("QuillonDlg Cancel Pressed\r\n");
    End(dialog, MAIN_REFUSED);
  }
}

// The thread that reported has ended, or is about to: its report was its
// last act, so the wait is short and the thread sends nothing more.
static void Continue(OsWindow dialog) {
  if (mainDialog.helper != nullptr) {
    OsThreadWait(mainDialog.helper, WAIT_NO_LIMIT);
    OsThreadClose(mainDialog.helper);
    mainDialog.helper = nullptr;
  }
  if (mainDialog.phase == MainPhase::ChecksOut) {
    FinishOk(dialog, mainDialog.checksOutcome);
    return;
  }
  Step(MainStep::PollEnded);
  bool cancel = mainDialog.pendingCancel;
  mainDialog.pendingCancel = false;
  if (cancel) Serve(dialog, OS_IDCANCEL);
}

// Never waits here for the thread that is inside this very request:
// the wait is posted behind it. A step run without a thread goes on at once.
static void HandOver(OsWindow dialog) {
  if (mainDialog.helper == nullptr) {
    Continue(dialog);
    return;
  }
  OsPostRequest(dialog, REQUEST_CONTINUE, 0);
}

static void OnPollDone(OsWindow dialog, PollRecord *poll) {
  mainRun->device = poll->device;
  poll->device = nullptr;
  OsEnableItem(dialog, OS_IDOK, 1);
  if (mainDialog.okLostFocus) OsFocusItem(dialog, OS_IDOK);
  mainDialog.okLostFocus = false;
  if (std::strcmp(poll->info.model, NoModuleFound) != 0) {
    mainDialog.identified = true;
    StopPoll(dialog);
  } else if (mainDialog.pollTimer == 0 && !mainDialog.pollStopped) {
    mainDialog.pollTimer = OsStartTimer(dialog, POLL_TIMER_ID, POLL_PERIOD_MS);
  }
  ShowModule(dialog, &poll->info);
  HandOver(dialog);
}

static void OnRequest(OsWindow dialog, int request, intptr_t value) {
  switch (request) {
    case REQUEST_POLL_DONE:
      OnPollDone(dialog, (PollRecord *)value);
      break;
    case REQUEST_CHECKS_DONE:
      mainDialog.checksOutcome = (int)value;
      HandOver(dialog);
      break;
    case REQUEST_PIN_DIALOG:
      *(int *)value = PinDialogRun(dialog, mainRun->device, mainRun->quiet);
      break;
    case REQUEST_MESSAGE_BOX:
      ServeMessageRequest(mainRun->quiet, value);
      break;
    case REQUEST_CONTINUE:
      Continue(dialog);
      break;
    default:
      break;
  }
}

// Starts the worker behind the progress dialog and waits for it. No
// thread of this dialog is out by now, and the poll is stopped: the
// worker has the run's device to itself.
static int RunUpdate(OsWindow dialog) {
  OsInitProgressControls();
  mainRun->worker = OsThreadCreateSuspended(UpdateWorker, mainRun);
  if (mainRun->worker == nullptr) {
    TRACE(TRACE_WARNING, "Worker thread not created\n");
    RunSetResult(mainRun, RESULT_UNKNOWN_ERROR);
    return MAIN_REFUSED;
  }
  int progress = ProgressDialogRun(mainRun, mainRun->quiet ? nullptr : dialog);
  if (progress == -1 || progress == PROGRESS_WORKER_NOT_STARTED) {
    // The progress dialog resumes the worker when it is created: without
    // the dialog, or when the resume failed, the worker never ran, and a
    // wait for it would never end.
    if (progress == -1) TRACE(TRACE_WARNING, "Progress dialog not created\n");
    OsThreadClose(mainRun->worker);
    mainRun->worker = nullptr;
    RunSetResult(mainRun, RESULT_UNKNOWN_ERROR);
    return MAIN_REFUSED;
  }
  // A worker whose end cannot be awaited may still be running and own the
  // device: nothing after this is safe, so the process ends here.
  if (OsThreadWait(mainRun->worker, WAIT_NO_LIMIT) != OS_WAIT_OBJECT_0)
    TRACE(TRACE_FATAL, "Worker thread wait failed\n");
  OsThreadClose(mainRun->worker);
  mainRun->worker = nullptr;
  return MAIN_UPDATE_RAN;
}

static int OnInit(OsWindow dialog) {
  Centre(dialog);
  OsSetCaption(dialog, QUILLON_CAPTION);
  OsSetItemText(dialog, IDC_MAIN_TARGET, TargetVersionText(mainRun->packageFile));
  // Its report starts the poll timer when nobody answered, and gives OK
  // the focus the dialog manager would have given it.
  mainDialog.okLostFocus = true;
  StartPoll(dialog);
  // OK follows at once in quiet mode: a module just restarted out of its
  // update mode is given its time to come back before it is judged. The
  // wait ends as soon as a device opens in AT mode, or the loader has been
  // seen too often. A quiet poll runs here, on this thread, before any
  // window is shown.
  for (int polls = 0; mainRun->quiet && mainDialog.restartedUpdateMode && !mainDialog.identified &&
                      mainRun->device == nullptr && mainDialog.loaderSightings < LOADER_SIGHTING_LIMIT &&
                      polls < RETURN_POLL_LIMIT;
       polls++) {
    OsSleep(POLL_PERIOD_MS);
    StartPoll(dialog);
  }
  // Before the dialog is shown: a quiet run never shows it at all.
  if (mainRun->quiet) OsSendCommand(dialog, OS_IDOK);
  return 1;
}

static void OnCommand(OsWindow dialog, int id) {
  // While OK is served, its boxes and dialogs run message loops of their
  // own; a command arriving through them must not start a second run.
  if (mainDialog.phase != MainPhase::Polling && mainDialog.phase != MainPhase::PollOut) return;
  // A poll is out (a restarted module's wait may take two minutes): OK,
  // greyed, may still come by Enter or as a command sent to the dialog.
  // It would judge a module the poll has not found yet, and end the run
  // under a module still on its way back; it does nothing.
  if (mainDialog.phase == MainPhase::PollOut && id == OS_IDOK) return;
  StopPoll(dialog);
  if (mainDialog.phase == MainPhase::Polling) {
    Serve(dialog, id);
    return;
  }
  // Cancel gives the poll's wait up, and is served once it has reported:
  // the dialog may not end under a poll that holds the device.
  if (id != OS_IDCANCEL) return;
  abandonRestartWait = 1;
  mainDialog.pendingCancel = true;
}

static void OnTimer(OsWindow dialog, unsigned id) {
  // A poll still out (a silent module takes seconds) lets the tick pass.
  if (mainDialog.pollTimer != 0 && id == mainDialog.pollTimer && mainDialog.phase == MainPhase::Polling)
    StartPoll(dialog);
}

int MainDialogRun(RunRecord *run) {
  static const OsDialogLogic logic = {
      /*init=*/OnInit, /*command=*/OnCommand, /*timer=*/OnTimer, /*request=*/OnRequest, /*refusesSessionEnd=*/0};
  mainDialog = MainDialogState{};
  mainDialog.phase = MainPhase::Polling;
  abandonRestartWait = 0;
  mainRun = run;
  int code = OsDialogRun(IDD_MAIN_DIALOG, nullptr, &logic);
  mainRun = nullptr;
  return code;
}
