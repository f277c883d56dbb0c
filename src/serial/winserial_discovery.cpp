// Port discovery: the module's candidate port paths, from device interfaces, then the registry.
#include "serial/winserial_discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log/trace_log.h"
#include "os/devenum.h"
#include "os/registry.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\winserial";

// GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}
static const OsGuid comPortInterfaces = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

static const char preferredModems[4][64] = {
    "Norvane M7120x WMC 1.0 Data",
    "Corvin Wireless 6640 HSPA Mobile Broadband Minicard Modem 2",
    "Norvane M7120x Mobile Broadband Minicard Data Modem",
    "Halvard M7120x Mobile Broadband Data Modem",
};

// Accepted besides the table: the module family under names the table
// does not list.
static const char *const moduleNameFragments[] = {
    "Norvane M7120x",
    "Corvin Wireless 6640 HSPA Mobile Broadband Minicard",
};

enum : uint32_t {
  DETAIL_RECORD_SIZE = 261,
  FRIENDLY_NAME_SIZE = 256,
  SERIALCOMM_ACCESS = OS_KEY_ALL_ACCESS,
  FIRST_DATA_SIZE = 2,
  // A COM port name is a few bytes; a registry that keeps asking for more
  // is not to be followed for ever.
  DATA_RETRIES = 8,
  DATA_SIZE_LIMIT = 1u << 20,
};

static const char serialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Entries are filled with a bounded print, so each ends within its stride,
// a long path cut to fit.
static char *Entry(char *list, int index, int stride) { return list + (size_t)index * (size_t)stride; }

int CheckIfInPreferedmdmTable(const char *friendlyName) {
  if (friendlyName == nullptr) friendlyName = "";
  TRACE(TRACE_DEBUG, "FName: %s\n", friendlyName);
  for (const char *row : preferredModems)
    if (std::strstr(friendlyName, row) != nullptr) return 1;
  return 0;
}

static int IsModuleName(const char *friendlyName) {
  if (CheckIfInPreferedmdmTable(friendlyName) == 1) return 1;
  for (const char *fragment : moduleNameFragments)
    if (std::strstr(friendlyName, fragment) != nullptr) return 1;
  return 0;
}

int EnumerateFriendlySerialPorts(char *list, int capacity, int stride) {
  if (list == nullptr || stride < 1) capacity = 0;
  OsDevInfoSet set;
  uint32_t error = OsSetupDiGetClassDevs(&comPortInterfaces, OS_DIGCF_PRESENT | OS_DIGCF_DEVICEINTERFACE, &set);
  if (error != 0) {
    TRACE(TRACE_WARNING, "SetupDiGetClassDevs failed. (%lx)", (unsigned long)error);
    return 0;
  }

  int count = 0;
  for (uint32_t index = 0; count < capacity; index++) {
    OsDevInterface iface;
    error = OsSetupDiEnumDeviceInterfaces(set, &comPortInterfaces, index, &iface);
    if (error != 0) {
      if (error != OS_ERROR_NO_MORE_ITEMS)
        TRACE(TRACE_WARNING, "SetupDiEnumDeviceInterfaces failed. (%lx)", (unsigned long)error);
      break;
    }
    char path[DETAIL_RECORD_SIZE];
    OsDevInfo device;
    error = OsSetupDiGetDeviceInterfaceDetail(set, &iface, DETAIL_RECORD_SIZE, path, sizeof path, &device);
    if (error != 0) {
      TRACE(TRACE_WARNING, "SetupDiGetDeviceInterfaceDetail failed. (%lx)", (unsigned long)error);
      break;
    }

    uint32_t type = 0;
    uint32_t devType = 0;
    uint32_t required = 0;
    if (OsSetupDiGetDeviceRegistryProperty(set, &device, OS_SPDRP_DEVTYPE, &type, &devType, sizeof devType,
                                           &required) != 0 ||
        devType != OS_FILE_DEVICE_MODEM)
      continue;

    char name[FRIENDLY_NAME_SIZE];
    std::memset(name, 0, sizeof name);
    if (OsSetupDiGetDeviceRegistryProperty(set, &device, OS_SPDRP_FRIENDLYNAME, &type, name, sizeof name,
                                           &required) != 0)
      continue;
    name[sizeof name - 1] = '\0';  // the driver's text need not end in the buffer
    if (!IsModuleName(name)) continue;

    TRACE(TRACE_DEBUG, "Friendly name [%s]\n    (%s)", name, path);
    char *entry = Entry(list, count, stride);
    std::snprintf(entry, (size_t)stride, "%s", path);
    count++;
    TRACE(TRACE_DEBUG, "match port(%s), %i\n", entry, count);
  }
  OsSetupDiDestroyDeviceInfoList(set);
  return count;
}

// Reads value `index` into `name` and `data`, growing `data` while the
// registry says it does not fit. Returns 0 or the error that ends the read.
static uint32_t ReadValue(OsRegKey key, uint32_t index, char *name, uint32_t *nameLength,
                          std::vector<char> &data) {
  for (uint32_t attempt = 0; attempt < DATA_RETRIES; attempt++) {
    // Reset on every call: the registry writes the last name's length back,
    // and a longer name next would then never fit.
    *nameLength = OS_REG_MAX_VALUE_NAME;
    std::fill(data.begin(), data.end(), 0);
    uint32_t type = OS_REG_NONE;
    uint32_t dataSize = (uint32_t)data.size() - 1;  // the last byte stays a terminator
    uint32_t result = OsRegEnumValue(key, index, name, nameLength, &type, data.data(), &dataSize);
    if (result == OS_ERROR_MORE_DATA) {
      if (dataSize >= DATA_SIZE_LIMIT) return OS_ERROR_MORE_DATA;
      uint32_t grown = 2 * dataSize;
      if (grown <= data.size()) grown = 2 * (uint32_t)data.size();
      data.assign(grown, 0);
      continue;
    }
    if (result != 0) return result;
    // Only text names a port; anything else is skipped like a bad read.
    return type == OS_REG_SZ ? 0 : (uint32_t)OS_ERROR_DATATYPE_MISMATCH;
  }
  return OS_ERROR_MORE_DATA;
}

int SerialGetPorts(char *list, int capacity, int stride, const char *const *fragments) {
  if (list == nullptr || stride < 1) capacity = 0;
  int count = EnumerateFriendlySerialPorts(list, capacity, stride);

  OsRegKey key = 0;
  if (OsRegOpenKeyEx(OS_HKEY_LOCAL_MACHINE, serialCommKey, SERIALCOMM_ACCESS, &key) != 0) {
    TRACE(TRACE_WARNING, "Unable to open register key for serialcom\n");
    return count;
  }
  uint32_t values = 0;
  if (OsRegQueryInfoKey(key, nullptr, &values, nullptr, nullptr) != 0) values = 0;

  std::vector<char> name(OS_REG_MAX_VALUE_NAME + 1, 0);
  std::vector<char> data(FIRST_DATA_SIZE, 0);
  for (uint32_t k = 0; k < values; k++) {
    uint32_t nameLength = OS_REG_MAX_VALUE_NAME;
    uint32_t result = ReadValue(key, k, name.data(), &nameLength, data);
    if (result != 0) {
      TRACE(TRACE_DEBUG, "0 based index = %d, retValue = %d,ValueLen = %d\n", (int)k, (int)result, (int)nameLength);
      continue;
    }
    name[OS_REG_MAX_VALUE_NAME] = '\0';
    const char *valueName = name[0] != '\0' ? name.data() : "<NO NAME>";
    TRACE(TRACE_DEBUG, "%d) %s  %s\n", (int)k, valueName, data.data());

    for (const char *const *fragment = fragments; fragment != nullptr && *fragment != nullptr && count < capacity;
         fragment++) {
      if (std::strstr(valueName, *fragment) == nullptr) continue;
      char *entry = Entry(list, count, stride);
      std::snprintf(entry, (size_t)stride, "\\\\.\\%s", data.data());
      count++;
      TRACE(TRACE_DEBUG, "match port(%s), %i\n", entry, count);
      break;  // one entry per value
    }
  }
  OsRegCloseKey(key);
  return count;
}
