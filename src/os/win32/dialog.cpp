// Dialog seam (Windows-specific): one procedure serves every dialog of the
// program and forwards to the dialog's portable logic, so no window
// message reaches the logic and no logic lives in a window procedure.
#include <windows.h>
#include <commctrl.h>

#include "os/dialog.h"

// OsSendRequest's message: wParam the request, lParam its value.
static const UINT requestMessage = WM_APP + 1;

static HWND W(OsWindow window) { return (HWND)window; }

static const OsDialogLogic *LogicOf(HWND dialog) {
  return (const OsDialogLogic *)GetWindowLongPtrA(dialog, DWLP_USER);
}

// A dialog procedure hands its message's result back through DWLP_MSGRESULT
// and says with TRUE that it did so.
static INT_PTR Answer(HWND dialog, LONG_PTR result) {
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
  return TRUE;
}

// Logoff, shutdown and suspend, for a dialog that refuses them.
static bool AnswerSessionEnd(HWND dialog, UINT message, WPARAM wParam, INT_PTR *handled) {
  switch (message) {
    case WM_QUERYENDSESSION:  // result 0: the session does not end
    case WM_ENDSESSION:
      *handled = Answer(dialog, 0);
      return true;
    case WM_POWERBROADCAST:
      if (wParam != PBT_APMQUERYSUSPEND) return false;
      *handled = Answer(dialog, BROADCAST_QUERY_DENY);
      return true;
    default:
      return false;
  }
}

static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    const OsDialogLogic *logic = (const OsDialogLogic *)lParam;
    SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)logic);
    if (logic == nullptr || logic->init == nullptr) return TRUE;
    return logic->init(dialog) ? TRUE : FALSE;
  }
  const OsDialogLogic *logic = LogicOf(dialog);
  if (logic == nullptr) return FALSE;
  INT_PTR handled = FALSE;
  if (logic->refusesSessionEnd && AnswerSessionEnd(dialog, message, wParam, &handled)) return handled;
  switch (message) {
    case WM_COMMAND:
      // Clicks, menu items and keys only (the close box and Escape come as
      // IDCANCEL); an edit's change notices are no commands.
      if (logic->command == nullptr || HIWORD(wParam) > 1) return FALSE;
      logic->command(dialog, LOWORD(wParam));
      return TRUE;
    case WM_TIMER:
      if (logic->timer == nullptr) return FALSE;
      logic->timer(dialog, (unsigned)wParam);
      return TRUE;
    default:
      if (message != requestMessage || logic->request == nullptr) return FALSE;
      logic->request(dialog, (int)wParam, (intptr_t)lParam);
      return TRUE;
  }
}

int OsDialogRun(int resource, OsWindow owner, const OsDialogLogic *logic) {
  INT_PTR code = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource), W(owner), DialogProcedure,
                                 (LPARAM)logic);
  // DialogBoxParam says 0 for an invalid owner; no dialog of ours ends with 0.
  return code == 0 || code == -1 ? -1 : (int)code;
}

void OsDialogEnd(OsWindow dialog, int code) { EndDialog(W(dialog), code); }

void OsSetItemText(OsWindow dialog, int item, const char *text) {
  SetDlgItemTextA(W(dialog), item, text != nullptr ? text : "");
}

int OsGetItemText(OsWindow dialog, int item, char *text, int capacity) {
  if (text == nullptr || capacity <= 0) return 0;
  text[0] = '\0';
  return (int)GetDlgItemTextA(W(dialog), item, text, capacity);
}

void OsSetCaption(OsWindow window, const char *text) { SetWindowTextA(W(window), text != nullptr ? text : ""); }

int OsGetCaption(OsWindow window, char *text, int capacity) {
  if (text == nullptr || capacity <= 0) return 0;
  text[0] = '\0';
  return GetWindowTextA(W(window), text, capacity);
}

void OsFocusItem(OsWindow dialog, int item) {
  HWND control = GetDlgItem(W(dialog), item);
  // Through the dialog manager, so the default button follows the focus.
  if (control != nullptr) SendMessageA(W(dialog), WM_NEXTDLGCTL, (WPARAM)control, TRUE);
}

int OsFocusedItem(OsWindow dialog) {
  HWND focus = GetFocus();
  if (focus == nullptr || !IsChild(W(dialog), focus)) return 0;
  return GetDlgCtrlID(focus);
}

void OsEnableItem(OsWindow dialog, int item, int enabled) {
  HWND control = GetDlgItem(W(dialog), item);
  if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
}

void OsSetBarRange(OsWindow dialog, int item, int low, int high) {
  SendDlgItemMessageA(W(dialog), item, PBM_SETRANGE32, (WPARAM)low, (LPARAM)high);
}

void OsSetBarPos(OsWindow dialog, int item, int position) {
  SendDlgItemMessageA(W(dialog), item, PBM_SETPOS, (WPARAM)position, 0);
}

// UxTheme and the common controls are no KnownDLLs: imported, the loader
// would take copies planted beside the program, and the DLLs they load in
// turn, before WinMain limits the search. Loaded here once, after it, from
// System32 (the common controls from the side-by-side store, as the
// manifest asks). The references are kept for the process's life.
static FARPROC FindSystemFunction(const wchar_t *dll, const char *name) {
  HMODULE module = LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module == nullptr ? nullptr : GetProcAddress(module, name);
}

typedef HRESULT(WINAPI *SetWindowThemeProc)(HWND, LPCWSTR, LPCWSTR);
typedef BOOL(WINAPI *InitCommonControlsExProc)(const INITCOMMONCONTROLSEX *);


void OsSetBarColor(OsWindow dialog, int item, uint32_t rgb) {
  HWND bar = GetDlgItem(W(dialog), item);
  if (bar == nullptr) return;
  // A themed bar draws in the theme's colour whatever it is told. Empty
  // names switch theming off for this window; where they are refused (Wine
  // keeps the names as atoms, and an atom cannot be empty), a name that no
  // theme class has does the same. Without UxTheme the bar keeps the
  // default style.
  static SetWindowThemeProc setWindowTheme =
      (SetWindowThemeProc)(void *)FindSystemFunction(L"uxtheme.dll", "SetWindowTheme");
  if (setWindowTheme != nullptr && FAILED(setWindowTheme(bar, L"", L""))) setWindowTheme(bar, L" ", L" ");
  SendMessageA(bar, PBM_SETBARCOLOR, 0, (LPARAM)(COLORREF)rgb);
}

void OsInitProgressControls() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  static InitCommonControlsExProc initControls =
      (InitCommonControlsExProc)(void *)FindSystemFunction(L"comctl32.dll", "InitCommonControlsEx");
  if (initControls != nullptr) initControls(&controls);
}

unsigned OsStartTimer(OsWindow dialog, unsigned id, unsigned periodMs) {
  return (unsigned)SetTimer(W(dialog), id, periodMs, nullptr);
}

void OsStopTimer(OsWindow dialog, unsigned id) { KillTimer(W(dialog), id); }

OsWindow OsGetParentOrDesktop(OsWindow window) {
  HWND parent = GetParent(W(window));
  return parent != nullptr ? (OsWindow)parent : (OsWindow)GetDesktopWindow();
}

int OsGetWindowRect(OsWindow window, OsRect *rect) {
  if (rect == nullptr) return 0;
  RECT found;
  if (!GetWindowRect(window != nullptr ? W(window) : GetDesktopWindow(), &found)) return 0;
  *rect = OsRect{found.left, found.top, found.right, found.bottom};
  return 1;
}

void OsMoveWindowTo(OsWindow window, int left, int top) {
  SetWindowPos(W(window), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// SendMessage waits until the dialog's own thread has run the procedure,
// whichever thread calls it: the worker's output is on screen, and the
// dialog ended, before the worker goes on.
void OsSendCommand(OsWindow dialog, int id) {
  SendMessageA(W(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

void OsSendRequest(OsWindow dialog, int request, intptr_t value) {
  SendMessageA(W(dialog), requestMessage, (WPARAM)request, (LPARAM)value);
}

void OsPostRequest(OsWindow dialog, int request, intptr_t value) {
  PostMessageA(W(dialog), requestMessage, (WPARAM)request, (LPARAM)value);
}
