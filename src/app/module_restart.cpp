// Waiting out a module's restart, for the worker and the main dialog alike.
#include "app/module_restart.h"

#include <cstdint>

#include "device/devices.h"
#include "device_open/device_open.h"
#include "log/trace_log.h"
#include "os/clock.h"

static const unsigned traceThreshold = 3;
static const char traceSource[] = "..\\..\\..\\src\\app\\module_restart";

enum {
  VANISH_READ_PAUSE_MS = 100,
  // A read that never returns cannot be bounded from outside, so each
  // read has its own time-out under the bound.
  VANISH_READ_TIMEOUT_MS = 1000,
  REOPEN_PAUSE_MS = 1000,
};

int WaitForPortToVanish(SerialDevice **device, const std::atomic<int> *abandon) {
  uint32_t start = OsTickCount();
  for (;;) {
    unsigned char byte;
    if (DeviceRead(*device, &byte, 1, VANISH_READ_TIMEOUT_MS) < 0) break;
    // The tick wraps after 49 days; the unsigned difference still counts.
    if ((uint32_t)(OsTickCount() - start) >= (uint32_t)RESTART_VANISH_BOUND_MS) {
      TRACE(TRACE_WARNING, "The port did not go away within %d ms of the restart\n", (int)RESTART_VANISH_BOUND_MS);
      return -1;
    }
    if (abandon != nullptr && abandon->load() != 0) return -1;
    OsSleep(VANISH_READ_PAUSE_MS);
  }
  DeviceClose(*device);
  *device = nullptr;
  return 0;
}

SerialDevice *WaitForModuleToReturn(int *polls, int limit, void (*onPoll)(int percent)) {
  SerialDevice *device = nullptr;
  do {
    OsSleep(REOPEN_PAUSE_MS);
    if (onPoll != nullptr) onPoll(*polls * 100 / limit);
    (*polls)++;
    device = SerialDeviceOpenAuto();
  } while (device == nullptr && *polls < limit);
  return device;
}
