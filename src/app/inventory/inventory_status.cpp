// The inventory's statuses and SIM states: names, exit codes and reasons, in one table each.
#include "app/inventory/inventory.h"

struct InventoryStatusRow {
  const char *name;
  int exitCode;
  const char *reason;  // not-supported takes the refusal's own text instead
};

// Apart from the update's 0-8, so no script mistakes one kind of run for
// the other.
static const InventoryStatusRow statusRows[INVENTORY_STATUS_COUNT] = {
    {"applicable", 0, "The module can take the update: a quiet run would start sending."},
    {"current", 20, "The module already runs the target firmware: a run would install it again."},
    {"no-module", 21, "No module answered."},
    {"not-supported", 22, "The version control refuses this module."},
    {"no-upgrade-path", 23, "No package fits the module's firmware: a run would end with code 6."},
    {"update-mode", 24, "A module answered only in its update mode."},
    {"sim-missing", 25, "The SIM's state could not be read: a run would end with code 3."},
    {"pin-required", 26, "The SIM wants its PIN or PUK: a quiet run would end with code 4."},
    {"port-busy", 27, "No module answered, and a port it may be on is held by another program."},
    {"battery-low", 28, "The laptop runs on a battery too low to finish an update: a quiet run would end with code 9."},
};

static const char *const simNames[] = {"not-checked", "ready", "pin", "puk", "missing"};

const char *InventoryStatusName(InventoryStatus status) {
  return status >= 0 && status < INVENTORY_STATUS_COUNT ? statusRows[status].name : "";
}

int InventoryExitCode(InventoryStatus status) {
  return status >= 0 && status < INVENTORY_STATUS_COUNT ? statusRows[status].exitCode : 1;
}

const char *InventorySimName(InventorySim sim) {
  return sim >= 0 && sim < (int)(sizeof simNames / sizeof simNames[0]) ? simNames[sim] : "";
}

const char *InventoryStatusReason(InventoryStatus status) {
  return status >= 0 && status < INVENTORY_STATUS_COUNT ? statusRows[status].reason : "";
}
