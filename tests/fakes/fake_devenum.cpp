// A set of COM-port device interfaces to enumerate, with scripted failures.
#include "fakes/fake_devenum.h"

#include <algorithm>
#include <cstring>

FakeDevEnum fakeDevEnum;

static const OsDevInfoSet FAKE_SET = 0x5E7;
static const uint32_t DETAIL_HEADER = 4;

void FakeDevEnumReset() { fakeDevEnum = FakeDevEnum{}; }

static void Record(const char *name, uint32_t index, uint32_t size) {
  fakeDevEnum.calls.push_back(FakeDevEnumCall{name, index, size});
}

// The member index travels inside the opaque records.
static uint32_t IndexOf(const unsigned char *native) {
  uint32_t index;
  std::memcpy(&index, native, sizeof index);
  return index;
}

uint32_t OsSetupDiGetClassDevs(const OsGuid *interfaceClass, uint32_t flags, OsDevInfoSet *set) {
  Record("SetupDiGetClassDevsA", 0, flags);
  fakeDevEnum.lastClass = *interfaceClass;
  if (fakeDevEnum.classDevsError != 0) {
    *set = OS_INVALID_DEVINFO_SET;
    return fakeDevEnum.classDevsError;
  }
  fakeDevEnum.setsOpen++;
  *set = FAKE_SET;
  return 0;
}

uint32_t OsSetupDiEnumDeviceInterfaces(OsDevInfoSet set, const OsGuid *interfaceClass, uint32_t index,
                                       OsDevInterface *iface) {
  (void)interfaceClass;
  Record("SetupDiEnumDeviceInterfaces", index, 0);
  if (set != FAKE_SET) return OS_ERROR_INVALID_HANDLE;
  auto error = fakeDevEnum.enumErrors.find(index);
  if (error != fakeDevEnum.enumErrors.end()) return error->second;
  if (index >= fakeDevEnum.devices.size()) return OS_ERROR_NO_MORE_ITEMS;
  std::memset(iface, 0, sizeof *iface);
  std::memcpy(iface->native, &index, sizeof index);
  return 0;
}

uint32_t OsSetupDiGetDeviceInterfaceDetail(OsDevInfoSet set, const OsDevInterface *iface, uint32_t detailSize,
                                           char *path, uint32_t pathCapacity, OsDevInfo *device) {
  uint32_t index = IndexOf(iface->native);
  Record("SetupDiGetDeviceInterfaceDetailA", index, detailSize);
  if (set != FAKE_SET || index >= fakeDevEnum.devices.size()) return OS_ERROR_INVALID_PARAMETER;
  auto error = fakeDevEnum.detailErrors.find(index);
  if (error != fakeDevEnum.detailErrors.end()) return error->second;
  const std::string &full = fakeDevEnum.devices[index].path;
  if (detailSize < DETAIL_HEADER || full.size() + 1 > detailSize - DETAIL_HEADER) return OS_ERROR_INSUFFICIENT_BUFFER;
  if (pathCapacity > 0) {
    size_t length = std::min<size_t>(full.size(), pathCapacity - 1);
    std::memcpy(path, full.data(), length);
    path[length] = '\0';
  }
  std::memset(device, 0, sizeof *device);
  std::memcpy(device->native, &index, sizeof index);
  return 0;
}

uint32_t OsSetupDiGetDeviceRegistryProperty(OsDevInfoSet set, const OsDevInfo *device, uint32_t property,
                                            uint32_t *type, void *buffer, uint32_t size, uint32_t *required) {
  uint32_t index = IndexOf(device->native);
  Record("SetupDiGetDeviceRegistryPropertyA", property, size);
  if (set != FAKE_SET || index >= fakeDevEnum.devices.size()) return OS_ERROR_INVALID_PARAMETER;
  const FakeDevice &member = fakeDevEnum.devices[index];
  if (property == OS_SPDRP_DEVTYPE) {
    if (!member.hasDevType) return OS_ERROR_INVALID_DATA;
    if (type != nullptr) *type = 4;  // REG_DWORD
    if (required != nullptr) *required = 4;
    if (size < 4) return OS_ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer, &member.devType, 4);
    return 0;
  }
  if (property == OS_SPDRP_FRIENDLYNAME) {
    if (!member.hasFriendlyName) return OS_ERROR_INVALID_DATA;
    uint32_t needed = (uint32_t)member.friendlyName.size() + 1;
    if (type != nullptr) *type = 1;  // REG_SZ
    if (required != nullptr) *required = needed;
    if (size < needed) return OS_ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer, member.friendlyName.c_str(), needed);
    return 0;
  }
  return OS_ERROR_INVALID_DATA;
}

void OsSetupDiDestroyDeviceInfoList(OsDevInfoSet set) {
  Record("SetupDiDestroyDeviceInfoList", 0, 0);
  if (set == FAKE_SET) fakeDevEnum.setsOpen--;
}
