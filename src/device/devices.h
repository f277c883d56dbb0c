// The device object every layer above the port works on: a real serial
// port or the simulated module. Opening one, which probes it over the AT
// channel, is device_open/, a layer above the AT channel.
#pragma once
#include <cstdint>

#include "os/sync.h"

enum DeviceKind : int32_t {
  DEVICE_KIND_SERIAL = 0,     // a real port
  DEVICE_KIND_SIMULATOR = 1,  // the simulated module
  DEVICE_KIND_NONE = 2,       // no device
};

// deviceStatusBits: what the mode probes found. Bits are only ever set.
enum DeviceStatusBit : uint32_t {
  DEVICE_STATUS_UPDATE_MODE = 1,   // the module answered only the update-mode probe
  DEVICE_STATUS_MODEL_MATCH = 2,   // the model line named this updater's module
};

struct SerialDevice {
  DeviceKind kind;
  int32_t connection;  // serial connection 1..254, the simulator's 500, 0 after a failed re-open
  uint32_t deviceStatusBits;
  OsMutex mutex;       // held by the AT channel for a whole exchange
};

// Per-kind operations; they take the device's connection, not the device.
struct DeviceOps {
  int (*write)(int connection, const void *bytes, int length);
  int (*read)(int connection, void *buffer, int length, int timeoutMs);
  void (*close)(int connection);
};

extern const DeviceOps deviceOps[3];

// The port name that selects the simulated module.
inline constexpr char simulatorPortName[] = "SIMULATOR";

// Closes the device's port, if it has one, and keeps the device (its
// mutex and bits) for another connection. An absent device is ignored.
void DeviceReleaseConnection(SerialDevice *device);

// An absent device is legal everywhere: reads, writes, locks and unlocks
// give -1, the kind is DEVICE_KIND_NONE, close and the driver version do nothing.
int DeviceRead(SerialDevice *device, void *buffer, int length, int timeoutMs);
int DeviceWrite(SerialDevice *device, const void *bytes, int length);
void DeviceClose(SerialDevice *device);
DeviceKind DeviceGetKind(const SerialDevice *device);
// The OS wait result (OS_WAIT_*); timeoutMs <= 0 waits without limit.
int DeviceLock(SerialDevice *device, int timeoutMs);
int DeviceUnlock(SerialDevice *device);
void DeviceGetDriverVersion(SerialDevice *device, char *text, int capacity);
