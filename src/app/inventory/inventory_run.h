// The inventory run: judge, report on standard output and in a file, and
// give the status's exit code. No window, no upgrade-log record.
#pragma once

// Where the report is kept; replaced whole on every inventory.
inline constexpr char inventoryFilePath[] = "C:\\FWInventory.json";

// `port` is the -t port or "" for discovery; `upgradeLogPath` is read for
// the last run's result, never written. Returns the exit code.
int InventoryRun(const char *port, int forceUpgrade, const char *upgradeLogPath);
