// Power and session seam (Windows-specific).
#include <windows.h>

#include "os/power.h"

uint32_t OsSetExecutionState(uint32_t flags) { return (uint32_t)SetThreadExecutionState((EXECUTION_STATE)flags); }

int OsGetPowerStatus(OsPowerStatus *status) {
  SYSTEM_POWER_STATUS system;
  if (!GetSystemPowerStatus(&system)) return 0;
  status->acLineStatus = system.ACLineStatus;
  status->batteryFlag = system.BatteryFlag;
  status->batteryLifePercent = system.BatteryLifePercent;
  return 1;
}

typedef BOOL(WINAPI *BlockReasonCreateProc)(HWND, LPCWSTR);
typedef BOOL(WINAPI *BlockReasonDestroyProc)(HWND);

// What GetProcAddress found; the seam's own signatures call through these.
static BlockReasonCreateProc foundCreate;
static BlockReasonDestroyProc foundDestroy;

static int CallCreate(OsWindow window, const wchar_t *reason) {
  return foundCreate((HWND)window, reason) ? 1 : 0;
}

static int CallDestroy(OsWindow window) { return foundDestroy((HWND)window) ? 1 : 0; }

OsBlockReasonFns OsFindBlockReasonFns() {
  OsBlockReasonFns fns = {nullptr, nullptr};
  // user32 is loaded already in a GUI process; the reference this takes
  // is kept for as long as the functions may be called.
  HMODULE user32 = LoadLibraryA("user32.dll");
  if (user32 == nullptr) return fns;
  foundCreate = (BlockReasonCreateProc)(void *)GetProcAddress(user32, "ShutdownBlockReasonCreate");
  foundDestroy = (BlockReasonDestroyProc)(void *)GetProcAddress(user32, "ShutdownBlockReasonDestroy");
  if (foundCreate != nullptr) fns.create = CallCreate;
  if (foundDestroy != nullptr) fns.destroy = CallDestroy;
  return fns;
}
