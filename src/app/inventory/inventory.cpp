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

static void Decide(InventoryRecord *record, int status) {
  record->status = status;
  record->reason = InventoryStatusReason(status);
}

int InventoryUpgradeChain(const PackageEntry *catalogue, int count, const char *version,
                          const PackageEntry *chain[INVENTORY_CHAIN_MAX]) {
  int length = 0;
  int last = -1;
  // The worker's walk: a delta leads to the package for its own target,
  // and the walk ends at a full package, at a package it already passed,
  // or where no package fits.
  while (length < INVENTORY_CHAIN_MAX) {
    int index = FindPackageIn(catalogue, count, version);
    if (index == -1 || index <= last) break;
    chain[length++] = &catalogue[index];
    last = index;
    const char *from = catalogue[index].fromVersion;
    if (from == nullptr || from[0] == '\0') break;
    version = catalogue[index].toVersion;
  }
  return length;
}

// Opened as the entry opens it, then as the main dialog's first poll does
// when that found nothing.
static SerialDevice *OpenAsARun(const char *port) {
  SerialDevice *device = SerialDeviceOpenNamed(port);
  if (device == nullptr) device = SerialDeviceOpenAuto();
  return device;
}

static void NamePort(const SerialDevice *device, char *port) {
  const char *path = DeviceGetKind(device) == Simulator ? simulatorPortName : SerialPortPath(device->connection);
  static const char devicePrefix[] = "\\\\.\\";
  if (std::strncmp(path, devicePrefix, sizeof devicePrefix - 1) == 0) path += sizeof devicePrefix - 1;
  std::snprintf(port, INVENTORY_PORT_SIZE, "%s", path);
}

// The refusal box's text, kept instead of shown.
static const char *refusalText;
static int KeepRefusal(OsWindow, const char *text, const char *, unsigned) {
  refusalText = text;
  return OS_IDOK;
}

// The main dialog's check: a module that takes the update-state query
// needs no unlocked SIM; otherwise the PIN state decides.
static void CheckSim(SerialDevice *device, InventoryRecord *record) {
  if (ATQueryUpdateMode(device, cmdUpdateStateQuery.timeoutMs) == AT_SUCCESS) return;
  int state = PinStateUnknown;  // a run treats it as a PIN to ask for
  if (ATGetPinState(device, &state, cmdPinQuery.timeoutMs) == AT_FAILURE) {
    record->sim = INVENTORY_SIM_UNREADABLE;
    Decide(record, INVENTORY_SIM_MISSING);
    return;
  }
  record->sim = state == Ready ? INVENTORY_SIM_READY : state == PukRequired ? INVENTORY_SIM_PUK : INVENTORY_SIM_PIN;
  if (state != Ready) Decide(record, INVENTORY_PIN_REQUIRED);
}

void InventoryJudge(const InventoryRequest *request, SerialDevice **device, InventoryRecord *record) {
  std::memset(record, 0, sizeof *record);
  record->sim = INVENTORY_SIM_NOT_CHECKED;
  Decide(record, INVENTORY_APPLICABLE);

  int busyBefore = SerialBusyRefusals();
  *device = OpenAsARun(request->port);
  if (*device == nullptr) {
    Decide(record, SerialBusyRefusals() != busyBefore ? INVENTORY_PORT_BUSY : INVENTORY_NO_MODULE);
    return;
  }
  record->moduleAnswered = 1;
  NamePort(*device, record->port);
  record->updateMode = ((*device)->deviceStatusBits & UpdateModeBit) != 0;

  // The main dialog's poll: a module that does not say its model is no
  // module to a run, which then ends with 1.
  record->module = IdentifyModule(*device);
  if (std::strcmp(record->module.model, NoModuleFound) == 0) {
    record->module.model[0] = '\0';
    Decide(record, record->updateMode ? INVENTORY_UPDATE_MODE : INVENTORY_NO_MODULE);
    return;
  }

  refusalText = nullptr;
  if (!CheckVersionControl(*device, request->forceUpgrade, nullptr, KeepRefusal)) {
    Decide(record, INVENTORY_NOT_SUPPORTED);
    if (refusalText != nullptr) record->reason = refusalText;
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
}
