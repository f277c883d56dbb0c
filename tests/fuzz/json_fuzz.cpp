// Fuzz target for the inventory's JSON writer: the module's untrusted texts
// go in, and the report must read back as strict JSON with every text as
// it was (converted from Windows-1252). Input: the first byte picks the
// status and SIM state, the rest is split at NUL bytes into the module's
// fields, the port and the last run's text; the whole input is also
// written as one string, NUL bytes included.
#include <cstdint>
#include <cstring>
#include <string>

#include "app/inventory/inventory.h"
#include "app/inventory/inventory_json.h"
#include "common/json_text.h"
#include "fuzz/fuzz_check.h"
#include "support/json_value.h"

static const char target[] = "json_fuzz";

// What a text must read back as: each byte's character in UTF-8, written
// out here independently of the writer.
static std::string Expected(const char *bytes, size_t length) {
  std::string out;
  for (size_t i = 0; i < length; i++) {
    uint32_t c = Cp1252ToUnicode((unsigned char)bytes[i]);
    if (c < 0x80) {
      out += (char)c;
    } else if (c < 0x800) {
      out += (char)(0xC0 | (c >> 6));
      out += (char)(0x80 | (c & 0x3F));
    } else {
      out += (char)(0xE0 | (c >> 12));
      out += (char)(0x80 | ((c >> 6) & 0x3F));
      out += (char)(0x80 | (c & 0x3F));
    }
  }
  return out;
}

static void Copy(const std::string &from, char *to, size_t capacity) {
  size_t length = from.size() < capacity - 1 ? from.size() : capacity - 1;
  std::memcpy(to, from.data(), length);
  to[length] = '\0';
}

static void CheckText(const JsonValue &value, const char *text, const char *what) {
  FuzzCheck(value.kind == JsonValue::String, target, what);
  FuzzCheck(value.text == Expected(text, std::strlen(text)), target, what);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // One string, NUL bytes and all.
  JsonText json;
  JsonTextInit(&json);
  JsonAppendStringBytes(&json, (const char *)data, size);
  JsonValue back;
  FuzzCheck(!json.failed && ParseJson(std::string(json.bytes, json.length), &back), target, "string not valid JSON");
  FuzzCheck(back.kind == JsonValue::String && back.text == Expected((const char *)data, size), target,
            "string did not read back");
  JsonTextFree(&json);

  // The whole report.
  static InventoryRecord record;
  std::memset(&record, 0, sizeof record);
  std::string fields[8];
  size_t field = 0;
  for (size_t i = 1; i < size && field < 8; i++) {
    if (data[i] == 0) field++;
    else fields[field] += (char)data[i];
  }
  uint8_t pick = size > 0 ? data[0] : 0;
  record.status = (InventoryStatus)(pick % (INVENTORY_STATUS_COUNT + 1));  // one past the end too
  record.sim = (InventorySim)((pick >> 4) % 6);
  record.reason = InventoryStatusReason(record.status);
  record.moduleAnswered = (pick & 8) != 0;
  record.updateMode = (pick & 4) != 0;
  ModuleInfo &info = record.module;
  char *texts[6] = {info.model, info.productNumber, info.revision, info.imei, info.softwareVersion, info.buildDate};
  for (int i = 0; i < 6; i++) Copy(fields[i], texts[i], MODULE_TEXT_SIZE);
  Copy(fields[6], record.port, sizeof record.port);
  record.hasLastRun = (pick & 2) != 0;
  record.lastRunCode = (int)size - 3;
  Copy(fields[7], record.lastRunText, sizeof record.lastRunText);
  // Out of range too: a value the reading never gives must still be written.
  record.power.ac = (PowerAc)(size % 4);
  record.power.batteryPercent = (int)(size % 103) - 1;
  static const unsigned char digest[32] = {0xab};
  PackageEntry package = {fields[4].c_str(), fields[5].c_str(), nullptr, (uint32_t)size, digest};
  if (pick & 1) {
    record.targetVersion = fields[5].c_str();
    record.packageCount = 1;
    record.packages[0] = &package;
  }

  JsonTextInit(&json);
  InventoryToJson(&record, fields[0].c_str(), &json);
  JsonValue report;
  FuzzCheck(!json.failed && ParseJson(std::string(json.bytes, json.length), &report), target,
            "report not valid JSON");
  JsonTextFree(&json);
  FuzzCheck(report.kind == JsonValue::Object && report.members.size() == 10, target, "not the ten fields");
  CheckText(report["tool"], fields[0].c_str(), "tool");
  CheckText(report["status"], InventoryStatusName(record.status), "status");
  FuzzCheck(report["exitCode"].number == InventoryExitCode(record.status), target, "exit code");
  CheckText(report["sim"], InventorySimName(record.sim), "sim");
  const JsonValue &module = report["module"];
  if (!record.moduleAnswered) {
    FuzzCheck(module.kind == JsonValue::Null, target, "module not null");
  } else {
    const char *names[6] = {"model", "productNumber", "revision", "imei", "softwareVersion", "buildDate"};
    for (int i = 0; i < 6; i++) CheckText(module[names[i]], texts[i], names[i]);
    CheckText(module["port"], record.port, "port");
    CheckText(module["mode"], record.updateMode ? "update" : "at", "mode");
  }
  const JsonValue &power = report["power"];
  static const char *const acNames[] = {"offline", "online", "unknown", "unknown"};
  CheckText(power["ac"], acNames[size % 4], "ac");
  if (record.power.batteryPercent < 0)
    FuzzCheck(power["batteryPercent"].kind == JsonValue::Null, target, "battery percent not null");
  else
    FuzzCheck(power["batteryPercent"].number == record.power.batteryPercent, target, "battery percent");
  const JsonValue &lastRun = report["lastRun"];
  if (record.hasLastRun) {
    FuzzCheck(lastRun["code"].number == record.lastRunCode, target, "last run code");
    CheckText(lastRun["text"], record.lastRunText, "last run text");
  } else {
    FuzzCheck(lastRun.kind == JsonValue::Null, target, "last run not null");
  }
  const JsonValue &targetValue = report["target"];
  if (pick & 1) {
    CheckText(targetValue["version"], fields[5].c_str(), "target version");
    const JsonValue &packages = targetValue["packages"];
    FuzzCheck(packages.items.size() == 1, target, "package count");
    CheckText(packages.items[0]["from"], fields[4].c_str(), "from");
    FuzzCheck(packages.items[0]["bytes"].number == (double)size, target, "bytes");
    FuzzCheck(packages.items[0]["sha256"].text.size() == 64, target, "digest");
  } else {
    FuzzCheck(targetValue.kind == JsonValue::Null, target, "target not null");
  }
  return 0;
}
