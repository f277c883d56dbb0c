// The PIN dialog: names the code the SIM wants, sends what the user typed,
// and stays open with a warning after a refused code. It never talks to
// the module itself: a module slow to answer would freeze it, and the main
// dialog behind it, for seconds. Each exchange runs on a thread of its own
// and hands its result back with one synchronous request, as the main
// dialog's poll and checks do.
#include "app/dialogs/pin_dialog.h"

#include <cstring>

#include "app/dialogs/exchange_thread.h"
#include "at/at_cmd.h"
#include "log/trace_log.h"
#include "os/dialog.h"
#include "os/thread.h"
#include "resource.h"

static const unsigned traceThreshold = 2;
static const char traceSource[] = "..\\..\\..\\src\\app\\dialogs\\pin_dialog";

enum {
  PIN_CODE_SIZE = 100,  // at most 99 characters are sent
  PIN_TIMEOUT_MS = 4000,
  WAIT_NO_LIMIT = -1,
};

// The requests this dialog serves, from its exchange's thread.
enum PinRequest {
  REQUEST_EXCHANGE_DONE,  // value: the PinExchange; the exchange's last act
  REQUEST_CONTINUE,       // posted: the exchange's thread has ended
};

// The label for each state the SIM may name: the first at start, the
// second after a refused code.
struct PinLabel {
  int state;
  const char *atStart;
  const char *afterRefusal;
};

static const PinLabel pinLabels[] = {
    {PIN_STATE_PIN_REQUIRED, "Pin:", "PIN:"},
    {PIN_STATE_PUK_REQUIRED, "Puk:", "PUK:"},
};

enum ExchangeKind { EXCHANGE_STATE, EXCHANGE_ENTRY };

// One exchange with the module: what it asks, and what came back. Written
// by the interface thread before the exchange's thread starts, by that
// thread until its request, and read by the interface thread after it.
struct PinExchange {
  OsWindow dialog;
  ExchangeKind kind;
  bool afterRefusal;  // a state query after a refused code
  char code[PIN_CODE_SIZE];
  PinState state;     // EXCHANGE_STATE: the SIM's state, PIN_STATE_UNKNOWN when unread
  bool accepted;      // EXCHANGE_ENTRY: the module took the code
};

// The module's device, for the dialog's life; the exchanges' threads use it.
static SerialDevice *pinDevice;

static struct {
  PinExchange exchange;
  OsThread helper;  // the exchange's thread, until the interface thread has waited for it
  bool out;         // an exchange is under way
  bool cancelled;   // Cancel came while it was: the dialog ends after it
} pinDialog;

// The edit takes digits only as they are typed; a paste gets past that.
static bool OnlyDigits(const char *code) {
  for (; *code != '\0'; code++)
    if (*code < '0' || *code > '9') return false;
  return true;
}

// ---- Off the interface thread ----------------------------------------------

static unsigned ExchangeThread(void *argument) {
  PinExchange *exchange = (PinExchange *)argument;
  if (exchange->kind == EXCHANGE_STATE) {
    PinState state = PIN_STATE_UNKNOWN;  // a reply that names no state leaves it so
    exchange->state = ATGetPinState(pinDevice, &state, PIN_TIMEOUT_MS) == AT_SUCCESS ? state : PIN_STATE_UNKNOWN;
  } else {
    // Anything but digits is never sent: it is refused like a wrong code.
    exchange->accepted = OnlyDigits(exchange->code) && ATEnterPin(pinDevice, exchange->code, PIN_TIMEOUT_MS) == AT_SUCCESS;
    std::memset(exchange->code, 0, sizeof exchange->code);
  }
  OsSendRequest(exchange->dialog, REQUEST_EXCHANGE_DONE, (intptr_t)exchange);
  return 0;
}

// ---- On the interface thread -------------------------------------------------

// OK and Cancel wait while the module is asked. Without a thread to ask it
// on, it is asked here, as before.
static void StartExchange(OsWindow dialog, ExchangeKind kind, bool afterRefusal) {
  PinExchange &exchange = pinDialog.exchange;
  exchange.dialog = dialog;
  exchange.kind = kind;
  exchange.afterRefusal = afterRefusal;
  pinDialog.out = true;
  EnableOkCancel(dialog, 0);
  pinDialog.helper = StartExchangeThread(ExchangeThread, &exchange);
  if (pinDialog.helper != nullptr) return;
  TRACE(TRACE_WARNING, "No thread to ask the module on; asking it from the PIN dialog\r\n");
  ExchangeThread(&exchange);
}

// A failed query, or a state that wants no code, leaves the label as it is.
static void ShowWantedCode(OsWindow dialog, const PinExchange &exchange) {
  for (const PinLabel &label : pinLabels)
    if (label.state == exchange.state)
      OsSetItemText(dialog, IDC_PIN_LABEL, exchange.afterRefusal ? label.afterRefusal : label.atStart);
}

// The exchange's thread has ended, or is about to: its request was its
// last act. Acts on what it brought back.
static void Continue(OsWindow dialog) {
  if (pinDialog.helper != nullptr) {
    OsThreadWait(pinDialog.helper, WAIT_NO_LIMIT);
    OsThreadClose(pinDialog.helper);
    pinDialog.helper = nullptr;
  }
  pinDialog.out = false;
  const PinExchange &exchange = pinDialog.exchange;
  if (exchange.kind == EXCHANGE_ENTRY && exchange.accepted) {
    OsDialogEnd(dialog, PIN_ACCEPTED);
    return;
  }
  if (pinDialog.cancelled) {
    OsDialogEnd(dialog, PIN_CANCELLED);
    return;
  }
  if (exchange.kind == EXCHANGE_STATE) {
    ShowWantedCode(dialog, exchange);
    EnableOkCancel(dialog, 1);
    return;
  }
  OsSetItemText(dialog, IDC_PIN_CODE, "");
  TraceFlush();  // a box can stand for long: the trace before it is out first
  OsMessageBox(dialog, "Wrong pin", "ERROR", OS_MB_ICONWARNING);
  StartExchange(dialog, EXCHANGE_STATE, true);
}

static void TryCode(OsWindow dialog) {
  OsGetItemText(dialog, IDC_PIN_CODE, pinDialog.exchange.code, sizeof pinDialog.exchange.code);
  StartExchange(dialog, EXCHANGE_ENTRY, false);
}

static int Init(OsWindow dialog) {
  pinDialog = {};
  StartExchange(dialog, EXCHANGE_STATE, false);
  OsFocusItem(dialog, IDC_PIN_CODE);
  return 0;  // the focus is set
}

static void Command(OsWindow dialog, int id) {
  // The buttons are greyed while the module is asked; a Cancel that still
  // comes (Escape, the close box) ends the dialog once it has answered.
  if (pinDialog.out) {
    if (id == OS_IDCANCEL) pinDialog.cancelled = true;
    return;
  }
  if (id == OS_IDOK) TryCode(dialog);
  if (id == OS_IDCANCEL) OsDialogEnd(dialog, PIN_CANCELLED);
}

// Never waits here for the thread that is inside this very request: the
// wait is posted behind it. An exchange run without a thread goes on at once.
static void Request(OsWindow dialog, int request, intptr_t) {
  if (request == REQUEST_EXCHANGE_DONE) {
    if (pinDialog.helper == nullptr)
      Continue(dialog);
    else
      OsPostRequest(dialog, REQUEST_CONTINUE, 0);
  } else if (request == REQUEST_CONTINUE) {
    Continue(dialog);
  }
}

static const OsDialogLogic pinLogic = {
    /*init=*/Init, /*command=*/Command, /*timer=*/nullptr, /*request=*/Request, /*refusesSessionEnd=*/0};

int PinDialogRun(OsWindow owner, SerialDevice *device, int quiet) {
  // Nobody would answer it in an unattended run.
  if (quiet) return PIN_CANCELLED;
  pinDevice = device;
  int code = OsDialogRun(IDD_PIN, owner, &pinLogic);
  if (code == -1) TRACE(TRACE_WARNING, "The PIN dialog could not be created\r\n");
  // A dialog that never showed gave no code: nothing was unlocked.
  return code == PIN_ACCEPTED ? PIN_ACCEPTED : PIN_CANCELLED;
}
