// The inventory: what an update run would decide about this machine's
// module, judged the way the run judges it up to the confirmation, with
// nothing changed on the module or the machine.
#pragma once
#include <cstdint>

#include "app/power_check.h"
#include "version_control/identify.h"
#include "version_control/packages.h"

struct SerialDevice;
struct ModuleCommand;

// Every command the inventory may send the module, in the order a run
// asks them: the mode probes, the identification, the update-state query
// and the PIN query. None of them changes the module. The one list: the
// README's table, the native rows and the Wine test are checked against
// it (the Wine test reads this file's definition, inventory_commands.cpp).
enum { INVENTORY_COMMAND_COUNT = 7 };
extern const ModuleCommand *const inventoryCommands[INVENTORY_COMMAND_COUNT];

// In the order of the exit codes' table; each has its name, code and
// short reason in one table (inventory.cpp).
enum InventoryStatus {
  INVENTORY_APPLICABLE,
  INVENTORY_CURRENT,
  INVENTORY_NO_MODULE,
  INVENTORY_NOT_SUPPORTED,
  INVENTORY_NO_UPGRADE_PATH,
  INVENTORY_UPDATE_MODE,
  INVENTORY_SIM_MISSING,
  INVENTORY_PIN_REQUIRED,
  INVENTORY_PORT_BUSY,
  INVENTORY_BATTERY_LOW,
  INVENTORY_STATUS_COUNT,
};

enum InventorySim {
  INVENTORY_SIM_NOT_CHECKED,  // the run never asked: it stopped before, or the module took the update-state query
  INVENTORY_SIM_READY,
  INVENTORY_SIM_PIN,
  INVENTORY_SIM_PUK,
  INVENTORY_SIM_UNREADABLE,  // "missing": the PIN query failed
};

enum {
  INVENTORY_CHAIN_MAX = 16,  // packages a run could send one after another
  INVENTORY_PORT_SIZE = 256,
};

struct InventoryRecord {
  InventoryStatus status;
  const char *reason;  // Windows-1252, static
  int moduleAnswered;  // 0: no module object at all
  char port[INVENTORY_PORT_SIZE];
  int updateMode;      // the module answered only in its update mode
  ModuleInfo module;   // fields "" where the module gave none
  InventorySim sim;
  const char *targetVersion;  // nullptr when no package applies
  int packageCount;
  const PackageEntry *packages[INVENTORY_CHAIN_MAX];
  PowerReading power;  // read whatever the status, for the fleet's view
  int hasLastRun;
  int lastRunCode;
  char lastRunText[256];
};

// What the judgement works with: the run's command-line choices and the
// packages it carries.
struct InventoryRequest {
  const char *port;  // the -t port ("\\.\COM3", "SIMULATOR"), or "" for discovery
  int forceUpgrade;
  const PackageEntry *catalogue;
  int catalogueCount;
  const char *targetVersion;  // what TargetVersionText gives
};

// Opens the module into *device as a run does (the named port, then
// discovery), and judges it. The caller closes *device. Sends only
// inventoryCommands. lastRun is left for the caller.
void InventoryJudge(const InventoryRequest *request, SerialDevice **device, InventoryRecord *record);

// The packages a run would send to a module running `version`, in order,
// as the worker walks the catalogue. Returns how many (0: no path).
int InventoryUpgradeChain(const PackageEntry *catalogue, int count, const char *version,
                          const PackageEntry *chain[INVENTORY_CHAIN_MAX]);

// The names the report uses, the exit code, and the short reason for a
// person; out-of-range values give "" (and exit code 1).
const char *InventoryStatusName(InventoryStatus status);
int InventoryExitCode(InventoryStatus status);
const char *InventoryStatusReason(InventoryStatus status);
const char *InventorySimName(InventorySim sim);
