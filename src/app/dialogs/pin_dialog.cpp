// The PIN dialog: names the code the SIM wants, sends what the user typed,
// and stays open with a warning after a refused code.
#include "app/dialogs/pin_dialog.h"

#include <cstring>

#include "app/state.h"
#include "at/at_cmd.h"
#include "log/trace_log.h"
#include "os/dialog.h"
#include "resource.h"

static const unsigned traceThreshold = 2;
static const char traceSource[] = "..\\..\\..\\src\\app\\pin_dialog";

enum {
  PIN_CODE_SIZE = 100,  // at most 99 characters are sent
  PIN_TIMEOUT_MS = 4000,
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

// A failed query, or a state that wants no code, leaves the label as it is.
static void ShowWantedCode(OsWindow dialog, bool afterRefusal) {
  PinState state = PIN_STATE_UNKNOWN;  // a reply that names no state leaves it so
  if (ATGetPinState(theDevice, &state, PIN_TIMEOUT_MS) != 0) return;
  for (const PinLabel &label : pinLabels)
    if (label.state == state) OsSetItemText(dialog, IDC_PIN_LABEL, afterRefusal ? label.afterRefusal : label.atStart);
}

// The edit takes digits only as they are typed; a paste gets past that.
static bool OnlyDigits(const char *code) {
  for (; *code != '\0'; code++)
    if (*code < '0' || *code > '9') return false;
  return true;
}

static void TryCode(OsWindow dialog) {
  char code[PIN_CODE_SIZE];
  OsGetItemText(dialog, IDC_PIN_CODE, code, sizeof code);
  // Anything but digits is never sent: it is refused like a wrong code.
  bool accepted = OnlyDigits(code) && ATEnterPin(theDevice, code, PIN_TIMEOUT_MS) == 0;
  std::memset(code, 0, sizeof code);
  if (accepted) {
    OsDialogEnd(dialog, PIN_ACCEPTED);
    return;
  }
  OsSetItemText(dialog, IDC_PIN_CODE, "");
  TraceFlush();  // a box can stand for long: the trace before it is out first
  OsMessageBox(dialog, "Wrong pin", "ERROR", OS_MB_ICONWARNING);
  ShowWantedCode(dialog, true);
}

static int Init(OsWindow dialog) {
  ShowWantedCode(dialog, false);
  OsFocusItem(dialog, IDC_PIN_CODE);
  return 0;  // the focus is set
}

static void Command(OsWindow dialog, int id) {
  if (id == OS_IDOK) TryCode(dialog);
  if (id == OS_IDCANCEL) OsDialogEnd(dialog, PIN_CANCELLED);
}

static const OsDialogLogic pinLogic = {
    /*init=*/Init, /*command=*/Command, /*timer=*/nullptr, /*request=*/nullptr, /*refusesSessionEnd=*/0};

int PinDialogRun(OsWindow owner) {
  // Nobody would answer it in an unattended run.
  if (quietMode) return PIN_CANCELLED;
  int code = OsDialogRun(IDD_PIN, owner, &pinLogic);
  if (code == -1) TRACE(TRACE_WARNING, "The PIN dialog could not be created\r\n");
  // A dialog that never showed gave no code: nothing was unlocked.
  return code == PIN_ACCEPTED ? PIN_ACCEPTED : PIN_CANCELLED;
}
