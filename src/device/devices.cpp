// The kind-dispatched device operations every upper layer uses.
#include "device/devices.h"

#include <cstdlib>

#include "device/simulator.h"
#include "serial/winserial.h"

// In kind order; the simulator has nothing to close.
const DeviceOps deviceOps[3] = {
    {SerialWrite, SerialRead, SerialClose},
    {SimulatorWrite, SimulatorRead, nullptr},
    {nullptr, nullptr, nullptr},
};

static const DeviceOps *OpsOf(const SerialDevice *device) {
  if (device == nullptr || device->kind < DEVICE_KIND_SERIAL || device->kind > DEVICE_KIND_NONE) return nullptr;
  return &deviceOps[device->kind];
}

// A device in the slot gives up its port before it is given another, so a
// replaced connection is not left open for the rest of the process.
void DeviceReleaseConnection(SerialDevice *device) {
  if (device == nullptr) return;
  const DeviceOps *ops = OpsOf(device);
  if (ops != nullptr && ops->close != nullptr && device->connection != 0) ops->close(device->connection);
  device->connection = 0;
}

int DeviceRead(SerialDevice *device, void *buffer, int length, int timeoutMs) {
  const DeviceOps *ops = OpsOf(device);
  if (ops == nullptr || ops->read == nullptr) return -1;
  return ops->read(device->connection, buffer, length, timeoutMs);
}

int DeviceWrite(SerialDevice *device, const void *bytes, int length) {
  const DeviceOps *ops = OpsOf(device);
  if (ops == nullptr || ops->write == nullptr) return -1;
  return ops->write(device->connection, bytes, length);
}

void DeviceClose(SerialDevice *device) {
  if (device == nullptr) return;
  const DeviceOps *ops = OpsOf(device);
  if (ops != nullptr && ops->close != nullptr) ops->close(device->connection);
  OsMutexDestroy(device->mutex);
  std::free(device);
}

DeviceKind DeviceGetKind(const SerialDevice *device) {
  if (device == nullptr) return DEVICE_KIND_NONE;
  return device->kind;
}

int DeviceLock(SerialDevice *device, int timeoutMs) {
  if (device == nullptr) return -1;
  // A caller's 0 or less sets no limit; to the OS a 0 would be a single
  // try, failing an exchange whenever another one briefly holds the lock.
  return OsMutexWait(device->mutex, timeoutMs > 0 ? timeoutMs : OS_MUTEX_NO_LIMIT);
}

int DeviceUnlock(SerialDevice *device) {
  if (device == nullptr) return -1;
  return OsMutexRelease(device->mutex);
}

void DeviceGetDriverVersion(SerialDevice *device, char *text, int capacity) {
  if (device == nullptr) return;
  SerialQueryDriverVersion(device->connection, text, capacity);
}
