// The inventory run: the judgement, the last run's result, and the report
// in both places. A report that cannot be written changes no exit code: a
// fleet tool still learns the status from it.
#include "app/inventory/inventory_run.h"

#include <cstdio>

#include "app/inventory/inventory.h"
#include "app/inventory/inventory_json.h"
#include "device/devices.h"
#include "log/trace_log.h"
#include "log/upgrade_log_read.h"
#include "os/file_replace.h"
#include "os/process.h"
#include "os/std_output.h"
#include "resource.h"
#include "version_control/packages.h"

static const unsigned traceThreshold = 3;
static const char traceSource[] = "..\\..\\..\\src\\app\\inventory\\inventory_run";

// Written beside the report, put on the disk, and then moved over it, so a
// collector never reads half a file and a power cut never leaves an empty
// one. Named for this process: two inventories started at once each
// write their own.
static void TempPathFor(char *path, size_t capacity) {
  std::snprintf(path, capacity, "%s.%lu.tmp", inventoryFilePath, OsProcessId());
}

static int WriteWhole(const char *path, const char *bytes, size_t length) {
  OsFile file = OsFileCreate(path);
  if (file == nullptr) return 0;
  int written = OsFileWrite(file, bytes, length) && OsFileFlush(file);
  int closed = OsFileClose(file);
  return written && closed;
}

static void KeepReport(const JsonText *json) {
  char tempPath[64];
  TempPathFor(tempPath, sizeof tempPath);
  if (WriteWhole(tempPath, json->bytes, json->length) && OsReplaceFile(tempPath, inventoryFilePath)) return;
  std::remove(tempPath);
  TRACE(TRACE_WARNING, "Inventory not written to %s\n", inventoryFilePath);
}

int InventoryRun(const char *port, int forceUpgrade, const char *upgradeLogPath) {
  // Six 4000-byte fields: off the stack.
  static InventoryRecord record;
  const InventoryRequest request = {port != nullptr ? port : "", forceUpgrade, PackageCatalogue,
                                    PackageCatalogueCount(), TargetVersionText(nullptr)};
  SerialDevice *device = nullptr;
  InventoryJudge(&request, &device, &record);
  DeviceClose(device);
  record.hasLastRun = UpgradeLogReadLastResult(upgradeLogPath, &record.lastRunCode, record.lastRunText,
                                               (int)sizeof record.lastRunText);

  int code = InventoryExitCode(record.status);
  JsonText json;
  JsonTextInit(&json);
  InventoryToJson(&record, QUILLON_CAPTION, &json);
  if (json.failed) {
    TRACE(TRACE_WARNING, "Inventory not written: out of memory\n");
  } else {
    if (OsStdOutputWrite(json.bytes, (uint32_t)json.length) < 0)
      TRACE(TRACE_WARNING, "Inventory not written to standard output\n");
    KeepReport(&json);
  }
  JsonTextFree(&json);
  TRACE(TRACE_INFO, "Inventory: %s (%d)\n", InventoryStatusName(record.status), code);
  return code;
}
