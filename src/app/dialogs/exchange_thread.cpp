#include "app/dialogs/exchange_thread.h"

#include "os/ui.h"

OsThread StartExchangeThread(OsThreadProc procedure, void *argument) {
  OsThread thread = OsThreadCreateSuspended(procedure, argument);
  if (thread == nullptr) return nullptr;
  if (OsThreadResume(thread)) return thread;
  OsThreadClose(thread);
  return nullptr;
}

void EnableOkCancel(OsWindow dialog, int enabled) {
  OsEnableItem(dialog, OS_IDOK, enabled);
  OsEnableItem(dialog, OS_IDCANCEL, enabled);
}
