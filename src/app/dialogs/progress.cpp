// The progress dialog and the worker's output operations. Each operation
// is one synchronous request to the dialog, so everything Windows ties to
// the window's thread (its controls, its end, the shutdown guards) happens
// on the interface thread while the worker waits.
#include "app/dialogs/progress.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "app/dialogs/message_request.h"
#include "app/dialogs/shutdown_guards.h"
#include "app/run_record.h"
#include "log/trace_log.h"
#include "os/dialog.h"
#include "resource.h"

static const unsigned traceThreshold = 2;
static const char traceSource[] = "..\\..\\..\\src\\app\\dialogs\\progress";

OsWindow ProgressWindow;
// The run the open dialog shows; the dialog logic takes no context.
static RunRecord *progressRun;

enum ProgressRequest {
  REQUEST_STATUS,   // value: the text
  REQUEST_TITLE,    // value: the text
  REQUEST_PERCENT,  // value: the percent
  REQUEST_STEP,     // value: the stage indicator's position
  REQUEST_END,      // value: the dialog's end code
};

enum {
  PROGRESS_TEXT_SIZE = 4096,
  PERCENT_TEXT_SIZE = 16,
  STAGE_BAR_FIRST = 0,
  STAGE_BAR_LAST = 6,
  PERCENT_FIRST = 0,
  PERCENT_LAST = 100,
};

static const uint32_t percentBarColor = 0x00FF00;  // pure green

struct StageView {
  const char *status;
  bool resetsPercent;
};

// Indexed by ProgressStage.
static const StageView stageViews[] = {
    {"Connecting the device\r\n", false},                                                   // STAGE_CONNECT
    {"Initialize the device\r\n", false},                                                   // STAGE_INITIALIZE
    {"Send update package\r\n", false},                                                     // STAGE_SEND
    {"Send update package done\r\n", false},                                                // STAGE_SEND_DONE
    {"Wait for the device to reboot\r\n", true},                                            // STAGE_WAIT_REBOOT
    {"Wait for the device to update the firmware. This may take up to 10 min\r\n", true},  // STAGE_WAIT_UPDATE
};
static_assert(sizeof stageViews / sizeof stageViews[0] == STAGE_WAIT_UPDATE + 1, "one view per stage");

static void Send(int request, intptr_t value) {
  if (ProgressWindow == nullptr) return;
  OsSendRequest(ProgressWindow, request, value);
}

// The text lives on the sender's stack: the request is served before
// OsSendRequest returns.
static void SendText(int request, const char *format, va_list arguments) {
  if (ProgressWindow == nullptr) return;
  char text[PROGRESS_TEXT_SIZE];
  std::vsnprintf(text, sizeof text, format, arguments);
  OsSendRequest(ProgressWindow, request, (intptr_t)text);
}

void StatusPrintf(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  SendText(REQUEST_STATUS, format, arguments);
  va_end(arguments);
}

void TitlePrintf(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  SendText(REQUEST_TITLE, format, arguments);
  va_end(arguments);
}

void SetPercent(int percent) { Send(REQUEST_PERCENT, percent); }

void SetStage(ProgressStage stage) {
  if (stage >= 0 && stage < (int)(sizeof stageViews / sizeof stageViews[0])) {
    StatusPrintf("%s", stageViews[stage].status);
    if (stageViews[stage].resetsPercent) SetPercent(0);
  }
  Send(REQUEST_STEP, stage);
}

void EndProgress(ProgressEnd code) { Send(REQUEST_END, code); }

// On the interface thread, which owns the window, the guards and the
// dialog's end.
static void Finish(OsWindow dialog, int code) {
  ReleaseShutdownGuards(dialog);
  if (code == PROGRESS_FAILURE) RunSetResult(progressRun, RESULT_UNKNOWN_ERROR);
  OsDialogEnd(dialog, code);
}

static void Serve(OsWindow dialog, int request, intptr_t value) {
  switch (request) {
    case REQUEST_STATUS:
      OsSetItemText(dialog, IDC_STATUS, (const char *)value);
      break;
    case REQUEST_TITLE:
      OsSetCaption(dialog, (const char *)value);
      break;
    case REQUEST_PERCENT: {
      char text[PERCENT_TEXT_SIZE];
      std::snprintf(text, sizeof text, "%d%%", (int)value);
      OsSetBarPos(dialog, IDC_PERCENT_BAR, (int)value);
      OsSetItemText(dialog, IDC_PERCENT_TEXT, text);
      break;
    }
    case REQUEST_STEP:
      OsSetBarPos(dialog, IDC_STAGE_BAR, (int)value);
      break;
    case REQUEST_END:
      Finish(dialog, (int)value);
      break;
    case REQUEST_MESSAGE_BOX:
      ServeMessageRequest(progressRun->quiet, value);
      break;
    default:
      break;
  }
}

// The worker is resumed last: its first request is served only once the
// modal loop runs anyway, and by then the bars are set up. A worker that
// cannot run would leave a dialog nobody ends, with shutdown refused, and
// a caller waiting for ever.
static int Init(OsWindow dialog) {
  ProgressWindow = dialog;
  TakeShutdownGuards(dialog);
  OsSetBarRange(dialog, IDC_STAGE_BAR, STAGE_BAR_FIRST, STAGE_BAR_LAST);
  OsSetBarRange(dialog, IDC_PERCENT_BAR, PERCENT_FIRST, PERCENT_LAST);
  OsSetBarColor(dialog, IDC_PERCENT_BAR, percentBarColor);
  SetStage(STAGE_CONNECT);
  if (!OsThreadResume(progressRun->worker)) {
    // Not a failed run: the caller must not wait for a worker that never
    // ran, and names the run's code itself.
    TRACE(TRACE_WARNING, "The update worker could not be started\r\n");
    ReleaseShutdownGuards(dialog);
    OsDialogEnd(dialog, PROGRESS_WORKER_NOT_STARTED);
  }
  return 1;
}

// No command: the close box and Escape do nothing, only the worker ends
// the dialog.
static const OsDialogLogic progressLogic = {
    /*init=*/Init, /*command=*/nullptr, /*timer=*/nullptr, /*request=*/Serve, /*refusesSessionEnd=*/1};

int ProgressDialogRun(RunRecord *run, OsWindow owner) {
  OsInitProgressControls();
  progressRun = run;
  // An unattended run has no window to own it.
  int code = OsDialogRun(IDD_PROGRESS, run->quiet ? nullptr : owner, &progressLogic);
  progressRun = nullptr;
  return code;
}
