// Waiting out a module's restart: its port going away, then the module
// coming back. The worker waits so after each restart it asks for, and
// the main dialog after restarting a module it found in its update mode.
#pragma once
#include <atomic>

struct SerialDevice;

enum {
  // A module that ignores the restart and keeps its port would otherwise
  // hold the caller for ever.
  RESTART_VANISH_BOUND_MS = 120000,
};

// Reads until the restarting module's port fails, then closes *device and
// sets it to none. Returns 0 when the port vanished, -1 when it was still
// there at the bound or `abandon` was set (the device is then left open).
// A real module answers the restart and stays on the bus for a moment:
// until its port is gone, a reopen would find it again on its way out.
int WaitForPortToVanish(SerialDevice **device, const std::atomic<int> *abandon = nullptr);

// Reopens by discovery once a second until a module answers or the poll
// budget `limit` is spent; *polls counts across the waits that share it.
// `onPoll`, when given, hears the share of the budget spent, in percent.
SerialDevice *WaitForModuleToReturn(int *polls, int limit, void (*onPoll)(int percent) = nullptr);
