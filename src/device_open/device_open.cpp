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

int SerialDeviceOpen(SerialDevice **slot, const char *port, int baud) {
  if (slot == nullptr) return -1;

  if (port == nullptr || port[0] == '\0') {
    char *candidates = (char *)std::calloc(CANDIDATE_COUNT, CANDIDATE_SIZE);
    int found = 0;
    if (candidates != nullptr)
      found = SerialGetPorts(candidates, CANDIDATE_COUNT, CANDIDATE_SIZE, registryFragments);
    for (int i = 0; i < found; i++) {
      TRACE(TRACE_INFO, "Try to open device %d of %d found\n", i, found);
      const char *candidate = candidates + (size_t)i * CANDIDATE_SIZE;
      if (candidate[0] != '\0' && SerialDeviceOpen(slot, candidate, baud) == 0) {
        std::free(candidates);
        return 0;
      }
    }
    std::free(candidates);
    DeviceReleaseConnection(*slot);
    return -2;
  }

  DeviceReleaseConnection(*slot);

  int connection = SIMULATOR_CONNECTION;
  bool updateMode = false;
  bool modelMatch = false;
  if (std::strcmp(port, simulatorPortName) != 0) {
    connection = SerialOpen(port, baud);
    TRACE(TRACE_INFO, "FD opened %d", connection);
    if (connection <= 0) return -2;

    SerialDevice probe = {Serial, connection, 0, OsMutexCreate()};
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
      return -2;
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
      return -2;
    }
    *device = SerialDevice{None, 0, 0, mutex};
    *slot = device;
  }
  if (updateMode) device->deviceStatusBits |= UpdateModeBit;
  TRACE(TRACE_INFO, "deviceStatusBits = %08x\n", (unsigned)device->deviceStatusBits);
  if (modelMatch) device->deviceStatusBits |= ModelMatchBit;
  TRACE(TRACE_INFO, "deviceStatusBits = %08x\n", (unsigned)device->deviceStatusBits);
  device->connection = connection;
  device->kind = connection == SIMULATOR_CONNECTION ? Simulator : Serial;
  return 0;
}

SerialDevice *SerialDeviceOpenAuto() {
  SerialDevice *device = nullptr;
  SerialDeviceOpen(&device, nullptr, MODULE_BAUD);
  return device;
}

SerialDevice *SerialDeviceOpenNamed(const char *port) {
  if (port == nullptr || (std::strstr(port, "COM") == nullptr && std::strcmp(port, simulatorPortName) != 0))
    return SerialDeviceOpenAuto();
  SerialDevice *device = nullptr;
  SerialDeviceOpen(&device, port, MODULE_BAUD);
  return device;
}

