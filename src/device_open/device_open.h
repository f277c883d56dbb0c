// Opening the module's device: a port by name, or discovery among the
// candidate ports, each probed over the AT channel for its mode.
#pragma once

#include "device/devices.h"

// `slot` may be empty or hold a device, which is then reused with its
// mutex and bits. `port` is a port path, "SIMULATOR", or absent/empty for
// discovery. Returns 0, -1 without a slot, -2 when nothing was opened.
int SerialDeviceOpen(SerialDevice **slot, const char *port, int baud);

// Discovery into a new device at the module's baud rate; nullptr when no
// candidate port answered.
SerialDevice *SerialDeviceOpenAuto();

// The port a user named, opened by that name when it is a COM port or the
// simulated module; anything else, or none, by discovery. nullptr when
// nothing answered.
SerialDevice *SerialDeviceOpenNamed(const char *port);
