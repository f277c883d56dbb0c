// Device open and mode detection: a port opened by name or found by
// discovery, then probed over the AT channel for the mode it is in. Above
// the AT channel, which itself reads through the device.
#include "device_open/device_open.h"

#include <cstdlib>
#include <cstring>

#include "at/at.h"
#include "device/simulator.h"
#include "log/trace_log.h"
#include "module_interface.h"
#include "serial/winserial.h"
#include "serial/winserial_discovery.h"

// The trace keeps the source name the open had before it had a file of its own.
static const unsigned traceThreshold = 3;
static const char traceSource[] = "..\\..\\..\\src\\devices";

enum {
  CANDIDATE_COUNT = 100,
  CANDIDATE_SIZE = 256,
  PROBE_REPLY_SIZE = 200,
};

// Discovery looks among the registry's serial ports for the module's
// driver names.
static const char *const registryFragments[] = {"mdm", nullptr};

static bool ContainsModelName(const char *reply) {
  for (const char *name : moduleModelNames)
    if (std::strstr(reply, name) != nullptr) return true;
  return false;
}

DeviceOpenResult SerialDeviceOpen(SerialDevice **slot, const char *port, int baud) {
  if (slot == nullptr) return DEVICE_OPEN_NO_SLOT;

  if (port == nullptr || port[0] == '\0') {
    char *candidates = (char *)std::calloc(CANDIDATE_COUNT, CANDIDATE_SIZE);
    int found = 0;
    if (candidates != nullptr)
      found = SerialGetPorts(candidates, CANDIDATE_COUNT, CANDIDATE_SIZE, registryFragments);
    // A candidate held by another program says more than one that did not
    // answer: the user can close that program.
    DeviceOpenResult result = candidates != nullptr && found == 0 ? DEVICE_OPEN_NONE_FOUND : DEVICE_OPEN_FAILED;
    for (int i = 0; i < found; i++) {
      TRACE(TRACE_INFO, "Try to open device %d of %d found\n", i, found);
      const char *candidate = candidates + (size_t)i * CANDIDATE_SIZE;
      if (candidate[0] == '\0') continue;
      DeviceOpenResult tried = SerialDeviceOpen(slot, candidate, baud);
      if (tried == DEVICE_OPEN_OK) {
        std::free(candidates);
        return DEVICE_OPEN_OK;
      }
      if (tried == DEVICE_OPEN_BUSY) result = DEVICE_OPEN_BUSY;
    }
    std::free(candidates);
    DeviceReleaseConnection(*slot);
    return result;
  }

  DeviceReleaseConnection(*slot);

  int connection = SIMULATOR_CONNECTION;
  bool updateMode = false;
  bool modelMatch = false;
  if (std::strcmp(port, simulatorPortName) != 0) {
    bool busy = false;
    connection = SerialOpen(port, baud, &busy);
    TRACE(TRACE_INFO, "FD opened %d", connection);
    if (connection <= 0) return busy ? DEVICE_OPEN_BUSY : DEVICE_OPEN_FAILED;

    SerialDevice probe = {DEVICE_KIND_SERIAL, connection, 0, OsMutexCreate()};
    TRACE(TRACE_INFO, "Dev [%s] opened\n", port);
    bool answered = false;
    char reply[PROBE_REPLY_SIZE];
    if (ATSendCmdf(&probe, reply, (int)sizeof reply, cmdModelProbe.timeoutMs, "%s", cmdModelProbe.text) ==
        AT_SUCCESS) {
      // Any modem that completes the probe is taken; the model only shows
      // in the trace.
      TRACE(TRACE_INFO, "AT mode found");
      answered = true;
      if (ContainsModelName(reply)) {
        TRACE(TRACE_INFO, "C module");
        modelMatch = true;
      }
    } else if (ATSendCmdf(&probe, nullptr, 0, cmdUpdateModeProbe.timeoutMs, "%s", cmdUpdateModeProbe.text) ==
               AT_SUCCESS) {
      TRACE(TRACE_INFO, "ITP mode found");
      answered = true;
      updateMode = true;
    }
    // Released on every way out: a silent candidate is probed again on
    // every poll of the main dialog.
    OsMutexDestroy(probe.mutex);
    if (!answered) {
      SerialClose(connection);
      return DEVICE_OPEN_FAILED;
    }
  }

  SerialDevice *device = *slot;
  if (device == nullptr) {
    OsMutex mutex = OsMutexCreate();
    device = mutex != nullptr ? (SerialDevice *)std::malloc(sizeof *device) : nullptr;
    if (device == nullptr) {
      // Without its lock the device could never carry a command.
      OsMutexDestroy(mutex);
      if (connection != SIMULATOR_CONNECTION) SerialClose(connection);
      return DEVICE_OPEN_FAILED;
    }
    *device = SerialDevice{DEVICE_KIND_NONE, 0, 0, mutex};
    *slot = device;
  }
  if (updateMode) device->deviceStatusBits |= DEVICE_STATUS_UPDATE_MODE;
  TRACE(TRACE_INFO, "deviceStatusBits = %08x\n", (unsigned)device->deviceStatusBits);
  if (modelMatch) device->deviceStatusBits |= DEVICE_STATUS_MODEL_MATCH;
  TRACE(TRACE_INFO, "deviceStatusBits = %08x\n", (unsigned)device->deviceStatusBits);
  device->connection = connection;
  device->kind = connection == SIMULATOR_CONNECTION ? DEVICE_KIND_SIMULATOR : DEVICE_KIND_SERIAL;
  return DEVICE_OPEN_OK;
}

SerialDevice *SerialDeviceOpenAuto(DeviceOpenResult *result) {
  SerialDevice *device = nullptr;
  DeviceOpenResult opened = SerialDeviceOpen(&device, nullptr, MODULE_BAUD);
  if (result != nullptr) *result = opened;
  return device;
}

SerialDevice *SerialDeviceOpenNamed(const char *port, DeviceOpenResult *result) {
  if (port == nullptr || (std::strstr(port, "COM") == nullptr && std::strcmp(port, simulatorPortName) != 0))
    return SerialDeviceOpenAuto(result);
  SerialDevice *device = nullptr;
  DeviceOpenResult opened = SerialDeviceOpen(&device, port, MODULE_BAUD);
  if (result != nullptr) *result = opened;
  return device;
}

