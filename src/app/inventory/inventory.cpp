// The inventory's judgement: the update run's own steps, in its order, up
// to the confirmation, with every box and log record left out. The first
// step that would stop a run decides the status.
#include "app/inventory/inventory.h"

#include <cstdio>
#include <cstring>

#include "at/at.h"
#include "at/at_cmd.h"
#include "device/devices.h"
#include "device_open/device_open.h"
#include "module_interface.h"
#include "serial/winserial.h"
#include "version_control/check.h"

static void Decide(InventoryRecord *record, InventoryStatus status) {
  record->status = status;
  record->reason = InventoryStatusReason(status);
}

int InventoryUpgradeChain(const PackageEntry *catalogue, int count, const char *version,
                          const PackageEntry *chain[INVENTORY_CHAIN_MAX]) {
  int length = 0;
  int last = -1;
  // The worker's walk, with each delta's target standing in for the
  // version the module would come back with.
  while (length < INVENTORY_CHAIN_MAX) {
    int index = -1;
    if (PackageWalkStep(catalogue, count, version, last, &index) != PACKAGE_STEP_NEXT) break;
    chain[length++] = &catalogue[index];
    last = index;
    if (!PackageIsDelta(&catalogue[index])) break;
    version = catalogue[index].toVersion;
  }
  return length;
}

// Opened as the entry opens it, then as the main dialog's first poll does
// when that found nothing.
// *busy when either found the port held by another program.
static SerialDevice *OpenAsARun(const char *port, bool *busy) {
  DeviceOpenResult named = DEVICE_OPEN_OK;
  DeviceOpenResult found = DEVICE_OPEN_OK;
  SerialDevice *device = SerialDeviceOpenNamed(port, &named);
  if (device == nullptr) device = SerialDeviceOpenAuto(&found);
  *busy = named == DEVICE_OPEN_BUSY || found == DEVICE_OPEN_BUSY;
  return device;
}

static void NamePort(const SerialDevice *device, char *port) {
  const char *path =
      DeviceGetKind(device) == DEVICE_KIND_SIMULATOR ? simulatorPortName : SerialPortPath(device->connection);
  static const char devicePrefix[] = "\\\\.\\";
  if (std::strncmp(path, devicePrefix, sizeof devicePrefix - 1) == 0) path += sizeof devicePrefix - 1;
  std::snprintf(port, INVENTORY_PORT_SIZE, "%s", path);
}

// The main dialog's check, with the SIM's state kept instead of acted on.
static void CheckSim(SerialDevice *device, InventoryRecord *record) {
  SimCheck sim = ATCheckSim(device, cmdPinQuery.timeoutMs);
  switch (sim) {
    case SIM_CHECK_NOT_NEEDED:
      return;
    case SIM_CHECK_UNREADABLE:
      record->sim = INVENTORY_SIM_UNREADABLE;
      Decide(record, INVENTORY_SIM_MISSING);
      return;
    case SIM_CHECK_READY:
      record->sim = INVENTORY_SIM_READY;
      return;
    case SIM_CHECK_PUK:
      record->sim = INVENTORY_SIM_PUK;
      break;
    case SIM_CHECK_PIN:
      record->sim = INVENTORY_SIM_PIN;
      break;
  }
  Decide(record, INVENTORY_PIN_REQUIRED);
}

void InventoryJudge(const InventoryRequest *request, SerialDevice **device, InventoryRecord *record) {
  std::memset(record, 0, sizeof *record);
  record->sim = INVENTORY_SIM_NOT_CHECKED;
  Decide(record, INVENTORY_APPLICABLE);
  record->power = ReadPower();

  bool busy = false;
  *device = OpenAsARun(request->port, &busy);
  if (*device == nullptr) {
    Decide(record, busy ? INVENTORY_PORT_BUSY : INVENTORY_NO_MODULE);
    return;
  }
  record->moduleAnswered = 1;
  NamePort(*device, record->port);
  record->updateMode = ((*device)->deviceStatusBits & DEVICE_STATUS_UPDATE_MODE) != 0;

  // The main dialog's poll: a module that does not say its model is no
  // module to a run, which then ends with 1.
  record->module = IdentifyModule(*device);
  if (std::strcmp(record->module.model, NoModuleFound) == 0) {
    record->module.model[0] = '\0';
    Decide(record, record->updateMode ? INVENTORY_UPDATE_MODE : INVENTORY_NO_MODULE);
    return;
  }

  // A look changes nothing, so a forced module leaves no record either.
  VersionCheck check = CheckVersionControl(*device, request->forceUpgrade, VC_FORCED_RECORD_SKIPPED);
  if (!check.passed) {
    Decide(record, INVENTORY_NOT_SUPPORTED);
    record->reason = check.refusal;
    return;
  }

  // What a run would send, known once the rules admit the module; the SIM
  // check comes first in a run, but needs no package.
  record->packageCount = InventoryUpgradeChain(request->catalogue, request->catalogueCount,
                                               record->module.softwareVersion, record->packages);
  if (record->packageCount > 0) record->targetVersion = request->targetVersion;

  CheckSim(*device, record);
  if (record->status != INVENTORY_APPLICABLE) return;
  if (record->packageCount == 0) {
    Decide(record, INVENTORY_NO_UPGRADE_PATH);
    return;
  }
  if (request->targetVersion != nullptr && std::strcmp(record->module.softwareVersion, request->targetVersion) == 0)
    Decide(record, INVENTORY_CURRENT);
  // The run's last check before the first byte, after the warning: it
  // decides only when nothing before it would stop the run.
  if (PowerRefusesUpdate(&record->power)) Decide(record, INVENTORY_BATTERY_LOW);
}
