// Dialog seam: modal dialogs from the program's resources, their controls
// and timers, and the synchronous requests that carry the worker's output
// to the interface thread. The dialogs' logic is portable code over these
// calls; the Win32 procedures only translate messages into the logic's
// entries below.
#pragma once
#include <cstdint>

#include "os/ui.h"

// What a dialog's procedure forwards to its logic. Any entry may be absent.
struct OsDialogLogic {
  // WM_INITDIALOG. Nonzero lets the system set the default focus.
  int (*init)(OsWindow dialog);
  // WM_COMMAND with the control or command id; the close box and Escape
  // arrive as OS_IDCANCEL.
  void (*command)(OsWindow dialog, int id);
  // WM_TIMER with the timer's id.
  void (*timer)(OsWindow dialog, unsigned id);
  // A private request sent with OsSendRequest, served on the thread that
  // owns the dialog.
  void (*request)(OsWindow dialog, int request, intptr_t value);
  // Nonzero: while open, the dialog refuses logoff, shutdown and suspend
  // (an interrupted flash can leave the module unusable).
  int refusesSessionEnd;
};

struct OsRect {
  int left, top, right, bottom;
};

// Runs dialog `resource` modally. Returns the code given to OsDialogEnd,
// or -1 when the dialog could not be created.
int OsDialogRun(int resource, OsWindow owner, const OsDialogLogic *logic);
void OsDialogEnd(OsWindow dialog, int code);

// Control texts, cut to capacity - 1 characters; Get returns the length.
void OsSetItemText(OsWindow dialog, int item, const char *text);
int OsGetItemText(OsWindow dialog, int item, char *text, int capacity);
// The window's own caption.
void OsSetCaption(OsWindow window, const char *text);
int OsGetCaption(OsWindow window, char *text, int capacity);
void OsFocusItem(OsWindow dialog, int item);
// The control of the dialog that has the keyboard focus; 0 when none has.
// A control greyed out loses the focus.
int OsFocusedItem(OsWindow dialog);
// Greys a control out (enabled 0) or gives it back; a disabled button
// takes no click.
void OsEnableItem(OsWindow dialog, int item, int enabled);

// Progress bars. The colour is a COLORREF (0x00BBGGRR). Setting it also
// takes that bar out of the visual styles, which would otherwise ignore it.
void OsSetBarRange(OsWindow dialog, int item, int low, int high);
void OsSetBarPos(OsWindow dialog, int item, int position);
void OsSetBarColor(OsWindow dialog, int item, uint32_t rgb);
// The common controls' progress bar class, before a dialog that holds one.
void OsInitProgressControls();

// Window timers. Start returns the timer's id, 0 when none was started.
unsigned OsStartTimer(OsWindow dialog, unsigned id, unsigned periodMs);
void OsStopTimer(OsWindow dialog, unsigned id);

// Placement: the owner (or the desktop when there is none) and moves.
OsWindow OsGetParentOrDesktop(OsWindow window);
int OsGetWindowRect(OsWindow window, OsRect *rect);  // nonzero on success
void OsMoveWindowTo(OsWindow window, int left, int top);

// Synchronous messages to the dialog: a command as if a button were
// pressed, and a private request. Either waits until the dialog's thread
// has served it, whichever thread sends it.
void OsSendCommand(OsWindow dialog, int id);
void OsSendRequest(OsWindow dialog, int request, intptr_t value);
// A private request queued behind the messages already waiting: served by
// the dialog's loop after the current message, and returns at once.
void OsPostRequest(OsWindow dialog, int request, intptr_t value);
