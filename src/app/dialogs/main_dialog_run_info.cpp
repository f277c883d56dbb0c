// The run header's facts, gathered from the main dialog, the port driver
// and the registry.
#include "app/dialogs/main_dialog_run_info.h"

#include <cstdio>
#include <cstring>

#include "app/run_record.h"
#include "device/devices.h"
#include "log/trace_log.h"
#include "os/dialog.h"
#include "os/registry.h"
#include "resource.h"
#include "version_control/packages.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\app\\dialogs\\main_dialog_run_info";

// The driver installer writes its version under the first key; older
// installers used the second.
static const char *const driverPackageKeys[] = {
    "SOFTWARE\\Norvane\\WirelessModule",
    "SOFTWARE\\HALVARD\\MobileBroadbandDevice",
};
static const char driverPackageValue[] = "Version";

enum { RUN_INFO_PROGRAM = 0, RUN_INFO_DRIVER = 1, RUN_INFO_DRIVER_PACKAGE = 2, RUN_INFO_TARGET = 4 };

// The dialog's fields and the slots that record them.
struct FieldSlot {
  int item;
  int slot;
};
static const FieldSlot fieldSlots[] = {
    {IDC_MAIN_HARDWARE, 7},
    {IDC_MAIN_FIRMWARE, 3},
    {IDC_MAIN_MODEL, 5},
    {IDC_MAIN_IMEI, 6},
};

void ReadDriverPackageVersion(char *text, int capacity) {
  if (text == nullptr || capacity <= 0) return;
  text[0] = '\0';
  OsRegKey key = 0;
  uint32_t opened = 1;
  for (const char *path : driverPackageKeys) {
    opened = OsRegOpenKeyEx(OS_HKEY_LOCAL_MACHINE, path, OS_KEY_READ, &key);
    if (opened == 0) break;
  }
  if (opened != 0) {
    TRACE(TRACE_WARNING, "No driver package key (%u)\n", (unsigned)opened);
    return;
  }
  char data[RUN_INFO_TEXT];
  uint32_t type = OS_REG_NONE;
  uint32_t size = sizeof data;
  uint32_t result = OsRegQueryValueEx(key, driverPackageValue, &type, data, &size);
  OsRegCloseKey(key);
  if (result != 0 || type != OS_REG_SZ) {
    TRACE(TRACE_WARNING, "Driver package version not read (%u, type %u)\n", (unsigned)result, (unsigned)type);
    return;
  }
  // Registry text need not carry its terminator: only one that came with
  // the value proves the value is all there.
  if (size > sizeof data || std::memchr(data, '\0', size) == nullptr) {
    TRACE(TRACE_WARNING, "Driver package version without its terminator\n");
    return;
  }
  std::snprintf(text, (size_t)capacity, "%s", data);
}

void CollectRunInfo(const RunRecord *run, OsWindow dialog, RunInfo *info) {
  if (info == nullptr) return;
  std::memset(info, 0, sizeof *info);
  ReadDriverPackageVersion(info->slot[RUN_INFO_DRIVER_PACKAGE], RUN_INFO_TEXT);
  DeviceGetDriverVersion(run->device, info->slot[RUN_INFO_DRIVER], RUN_INFO_TEXT);
  std::snprintf(info->slot[RUN_INFO_TARGET], RUN_INFO_TEXT, "%s", TargetVersionText(run->packageFile));
  OsGetCaption(dialog, info->slot[RUN_INFO_PROGRAM], RUN_INFO_TEXT);
  for (const FieldSlot &field : fieldSlots) OsGetItemText(dialog, field.item, info->slot[field.slot], RUN_INFO_TEXT);
  UpgradeLogRunHeader(info);
}
