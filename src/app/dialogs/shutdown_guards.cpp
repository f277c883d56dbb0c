// The shutdown guards of the progress dialog.
#include "app/dialogs/shutdown_guards.h"

#include "os/power.h"

static const wchar_t blockReason[] = L"Upgrading flash on wwan module. Please do not logout";

// The remover found when the guards were taken; none on systems without it.
static OsBlockReasonDestroyFn blockReasonRemover;

void TakeShutdownGuards(OsWindow window) {
  OsBlockReasonFns fns = OsFindBlockReasonFns();
  if (fns.create != nullptr) fns.create(window, blockReason);
  blockReasonRemover = fns.destroy;
  OsSetExecutionState(GUARDED_EXECUTION_STATE);
}

void ReleaseShutdownGuards(OsWindow window) {
  if (blockReasonRemover != nullptr) blockReasonRemover(window);
  OsSetExecutionState(RELEASED_EXECUTION_STATE);
}
