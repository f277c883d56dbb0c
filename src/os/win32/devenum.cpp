// Device-interface enumeration seam (Windows-specific).
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "os/devenum.h"

static_assert(sizeof(GUID) == sizeof(OsGuid), "a GUID is copied as it is");
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) <= sizeof(OsDevInterface::native), "interface record fits");
static_assert(sizeof(SP_DEVINFO_DATA) <= sizeof(OsDevInfo::native), "device record fits");

static HDEVINFO Set(OsDevInfoSet set) { return (HDEVINFO)set; }

static GUID ToGuid(const OsGuid *guid) {
  GUID native;
  std::memcpy(&native, guid, sizeof native);
  return native;
}

uint32_t OsSetupDiGetClassDevs(const OsGuid *interfaceClass, uint32_t flags, OsDevInfoSet *set) {
  GUID guid = ToGuid(interfaceClass);
  HDEVINFO native = SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
  if (native == INVALID_HANDLE_VALUE) {
    *set = OS_INVALID_DEVINFO_SET;
    return GetLastError();
  }
  *set = (OsDevInfoSet)native;
  return 0;
}

uint32_t OsSetupDiEnumDeviceInterfaces(OsDevInfoSet set, const OsGuid *interfaceClass, uint32_t index,
                                       OsDevInterface *iface) {
  GUID guid = ToGuid(interfaceClass);
  SP_DEVICE_INTERFACE_DATA data;
  std::memset(&data, 0, sizeof data);
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInterfaces(Set(set), nullptr, &guid, index, &data)) return GetLastError();
  std::memcpy(iface->native, &data, sizeof data);
  return 0;
}

uint32_t OsSetupDiGetDeviceInterfaceDetail(OsDevInfoSet set, const OsDevInterface *iface, uint32_t detailSize,
                                           char *path, uint32_t pathCapacity, OsDevInfo *device) {
  union {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[1024];
  } storage;
  if (detailSize < sizeof storage.detail || detailSize > sizeof storage.bytes) return ERROR_INVALID_PARAMETER;
  std::memset(&storage, 0, sizeof storage);
  // cbSize names the record's fixed part only (8 on x64, 5 on x86), not
  // the room given for the path; any other value fails every call.
  storage.detail.cbSize = sizeof storage.detail;

  SP_DEVICE_INTERFACE_DATA data;
  std::memcpy(&data, iface->native, sizeof data);
  SP_DEVINFO_DATA info;
  std::memset(&info, 0, sizeof info);
  info.cbSize = sizeof info;
  if (!SetupDiGetDeviceInterfaceDetailA(Set(set), &data, &storage.detail, detailSize, nullptr, &info))
    return GetLastError();

  // The path ends within the record; cut it there whatever the driver says.
  size_t room = detailSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  size_t length = strnlen(storage.detail.DevicePath, room);
  if (pathCapacity > 0) {
    if (length > pathCapacity - 1) length = pathCapacity - 1;
    std::memcpy(path, storage.detail.DevicePath, length);
    path[length] = '\0';
  }
  std::memcpy(device->native, &info, sizeof info);
  return 0;
}

uint32_t OsSetupDiGetDeviceRegistryProperty(OsDevInfoSet set, const OsDevInfo *device, uint32_t property,
                                            uint32_t *type, void *buffer, uint32_t size, uint32_t *required) {
  SP_DEVINFO_DATA info;
  std::memcpy(&info, device->native, sizeof info);
  DWORD nativeType = 0;
  DWORD nativeRequired = 0;
  BOOL ok = SetupDiGetDeviceRegistryPropertyA(Set(set), &info, property, &nativeType, (BYTE *)buffer, size,
                                              &nativeRequired);
  if (type != nullptr) *type = nativeType;
  if (required != nullptr) *required = nativeRequired;
  return ok ? 0 : GetLastError();
}

void OsSetupDiDestroyDeviceInfoList(OsDevInfoSet set) { SetupDiDestroyDeviceInfoList(Set(set)); }
