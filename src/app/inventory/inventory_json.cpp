// The inventory record as JSON: one field per line at the top, so that a
// person reading `Quillon.exe -i | more` sees the answer at a glance.
#include "app/inventory/inventory_json.h"

#include <cstdio>

#include "app/inventory/inventory.h"

static void Field(JsonText *json, const char *name, int first = 0) {
  JsonAppendRaw(json, first ? "\n  \"" : ",\n  \"");
  JsonAppendRaw(json, name);
  JsonAppendRaw(json, "\": ");
}

// A member inside one of the nested objects, all on one line.
static void Member(JsonText *json, const char *name, const char *value, int first = 0) {
  JsonAppendRaw(json, first ? "\"" : ", \"");
  JsonAppendRaw(json, name);
  JsonAppendRaw(json, "\": ");
  JsonAppendString(json, value);
}

static void AppendModule(JsonText *json, const InventoryRecord *record) {
  if (!record->moduleAnswered) {
    JsonAppendRaw(json, "null");
    return;
  }
  const ModuleInfo &info = record->module;
  JsonAppendRaw(json, "{");
  Member(json, "port", record->port, 1);
  Member(json, "mode", record->updateMode ? "update" : "at");
  Member(json, "model", info.model);
  Member(json, "productNumber", info.productNumber);
  Member(json, "revision", info.revision);
  Member(json, "imei", info.imei);
  Member(json, "softwareVersion", info.softwareVersion);
  Member(json, "buildDate", info.buildDate);
  JsonAppendRaw(json, "}");
}

static void AppendDigest(JsonText *json, const unsigned char *digest) {
  if (digest == nullptr) {
    JsonAppendRaw(json, "null");
    return;
  }
  char hex[2 * SHA256_DIGEST_SIZE + 1];
  for (int i = 0; i < SHA256_DIGEST_SIZE; i++) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  JsonAppendString(json, hex);
}

static void AppendTarget(JsonText *json, const InventoryRecord *record) {
  if (record->targetVersion == nullptr) {
    JsonAppendRaw(json, "null");
    return;
  }
  JsonAppendRaw(json, "{\"version\": ");
  JsonAppendString(json, record->targetVersion);
  JsonAppendRaw(json, ", \"packages\": [");
  for (int i = 0; i < record->packageCount; i++) {
    const PackageEntry *entry = record->packages[i];
    JsonAppendRaw(json, i == 0 ? "\n    {" : ",\n    {");
    Member(json, "from", entry->fromVersion != nullptr ? entry->fromVersion : "", 1);
    Member(json, "to", entry->toVersion);
    JsonAppendRaw(json, ", \"bytes\": ");
    JsonAppendInt(json, entry->imageLength);
    JsonAppendRaw(json, ", \"sha256\": ");
    AppendDigest(json, entry->sha256);
    JsonAppendRaw(json, "}");
  }
  JsonAppendRaw(json, record->packageCount > 0 ? "\n  ]}" : "]}");
}

static const char *AcName(PowerAc ac) {
  static const char *const names[] = {"offline", "online", "unknown"};
  return ac >= POWER_AC_OFFLINE && ac <= POWER_AC_UNKNOWN ? names[ac] : "unknown";
}

static void AppendPower(JsonText *json, const InventoryRecord *record) {
  JsonAppendRaw(json, "{\"ac\": ");
  JsonAppendString(json, AcName(record->power.ac));
  JsonAppendRaw(json, ", \"batteryPercent\": ");
  if (record->power.batteryPercent < 0)
    JsonAppendRaw(json, "null");
  else
    JsonAppendInt(json, record->power.batteryPercent);
  JsonAppendRaw(json, "}");
}

static void AppendLastRun(JsonText *json, const InventoryRecord *record) {
  if (!record->hasLastRun) {
    JsonAppendRaw(json, "null");
    return;
  }
  JsonAppendRaw(json, "{\"code\": ");
  JsonAppendInt(json, record->lastRunCode);
  JsonAppendRaw(json, ", \"text\": ");
  JsonAppendString(json, record->lastRunText);
  JsonAppendRaw(json, "}");
}

void InventoryToJson(const InventoryRecord *record, const char *tool, JsonText *json) {
  JsonAppendRaw(json, "{");
  Field(json, "schema", 1);
  JsonAppendInt(json, INVENTORY_SCHEMA);
  Field(json, "tool");
  JsonAppendString(json, tool);
  Field(json, "status");
  JsonAppendString(json, InventoryStatusName(record->status));
  Field(json, "exitCode");
  JsonAppendInt(json, InventoryExitCode(record->status));
  Field(json, "reason");
  JsonAppendString(json, record->reason != nullptr ? record->reason : "");
  Field(json, "module");
  AppendModule(json, record);
  Field(json, "sim");
  JsonAppendString(json, InventorySimName(record->sim));
  Field(json, "target");
  AppendTarget(json, record);
  Field(json, "power");
  AppendPower(json, record);
  Field(json, "lastRun");
  AppendLastRun(json, record);
  JsonAppendRaw(json, "\n}\n");
}
