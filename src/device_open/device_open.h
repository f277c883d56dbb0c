// Opening the module's device: a port by name, or discovery among the
// candidate ports, each probed over the AT channel for its mode.
#pragma once

#include "device/devices.h"

// Whether a device opened, and if not, why: the small set of reasons a
// serial library reports, so that a caller can tell a port another
// program holds from one that is not there.
enum DeviceOpenResult : int {
  DEVICE_OPEN_OK = 0,
  DEVICE_OPEN_NO_SLOT = -1,     // no slot to open into
  DEVICE_OPEN_FAILED = -2,      // the port would not open, or nothing answered the probes
  DEVICE_OPEN_NONE_FOUND = -3,  // discovery found no candidate port
  DEVICE_OPEN_BUSY = -4,        // the port (for discovery: a candidate) is held by another program
};

// `slot` may be empty or hold a device, which is then reused with its
// mutex and bits. `port` is a port path, "SIMULATOR", or absent/empty for
// discovery.
DeviceOpenResult SerialDeviceOpen(SerialDevice **slot, const char *port, int baud);

// Discovery into a new device at the module's baud rate; nullptr when no
// candidate port answered, with the reason in *result when asked for.
SerialDevice *SerialDeviceOpenAuto(DeviceOpenResult *result = nullptr);

// The port a user named, opened by that name when it is a COM port or the
// simulated module; anything else, or none, by discovery. nullptr when
// nothing answered, with the reason in *result when asked for.
SerialDevice *SerialDeviceOpenNamed(const char *port, DeviceOpenResult *result = nullptr);
