// Power and session seam: what the machine runs on, keeping it awake, and
// the reason a logoff or shutdown is held off while the firmware is written.
#pragma once
#include <cstdint>

#include "os/ui.h"

// SetThreadExecutionState's flags, with their Win32 values.
enum : uint32_t {
  OS_ES_SYSTEM_REQUIRED = 0x00000001u,
  OS_ES_DISPLAY_REQUIRED = 0x00000002u,
  OS_ES_AWAYMODE_REQUIRED = 0x00000040u,
  OS_ES_CONTINUOUS = 0x80000000u,
};

// Returns the state before, 0 on failure. The state belongs to the
// calling thread.
uint32_t OsSetExecutionState(uint32_t flags);

// The block-reason functions of user32, looked up at run time: systems
// without them still run. Both return nonzero on success and act only for
// a window of the calling thread.
typedef int (*OsBlockReasonCreateFn)(OsWindow window, const wchar_t *reason);
typedef int (*OsBlockReasonDestroyFn)(OsWindow window);

struct OsBlockReasonFns {
  OsBlockReasonCreateFn create;    // none when the system lacks it
  OsBlockReasonDestroyFn destroy;  // none when the system lacks it
};

OsBlockReasonFns OsFindBlockReasonFns();

// GetSystemPowerStatus's three bytes that tell what the machine runs on,
// with their Win32 meanings: AC line 0 off, 1 on, 255 unknown; battery
// flag 128 no system battery, 255 unknown; life percent 0-100, 255 unknown.
struct OsPowerStatus {
  uint8_t acLineStatus;
  uint8_t batteryFlag;
  uint8_t batteryLifePercent;
};

// Reads without waiting. Returns nonzero on success; on failure *status
// is left as it was.
int OsGetPowerStatus(OsPowerStatus *status);
