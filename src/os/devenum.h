// Device-interface enumeration seam: the SetupDi calls of port discovery, one for one.
#pragma once
#include <cstdint>

#include "os/errors.h"

typedef uintptr_t OsDevInfoSet;  // an HDEVINFO
const OsDevInfoSet OS_INVALID_DEVINFO_SET = ~(OsDevInfoSet)0;

struct OsGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// Copies of SP_DEVICE_INTERFACE_DATA and SP_DEVINFO_DATA. They only pass
// from one call to the next; the portable code never looks inside.
struct OsDevInterface {
  alignas(8) unsigned char native[32];
};
struct OsDevInfo {
  alignas(8) unsigned char native[32];
};

enum : uint32_t {
  OS_DIGCF_PRESENT = 0x02,
  OS_DIGCF_DEVICEINTERFACE = 0x10,
  OS_SPDRP_FRIENDLYNAME = 0x0C,
  OS_SPDRP_DEVTYPE = 0x19,
  OS_FILE_DEVICE_MODEM = 0x2B,
};

// Each call returns 0 on success or the system error code of its failure.
uint32_t OsSetupDiGetClassDevs(const OsGuid *interfaceClass, uint32_t flags, OsDevInfoSet *set);
uint32_t OsSetupDiEnumDeviceInterfaces(OsDevInfoSet set, const OsGuid *interfaceClass, uint32_t index,
                                       OsDevInterface *iface);
// `detailSize` is the size of the whole SP_DEVICE_INTERFACE_DETAIL_DATA_A
// record the call may use, its header included; a device path that does
// not fit in it fails the call. The path comes back terminated in `path`,
// cut to pathCapacity - 1 characters.
uint32_t OsSetupDiGetDeviceInterfaceDetail(OsDevInfoSet set, const OsDevInterface *iface, uint32_t detailSize,
                                           char *path, uint32_t pathCapacity, OsDevInfo *device);
uint32_t OsSetupDiGetDeviceRegistryProperty(OsDevInfoSet set, const OsDevInfo *device, uint32_t property,
                                            uint32_t *type, void *buffer, uint32_t size, uint32_t *required);
void OsSetupDiDestroyDeviceInfoList(OsDevInfoSet set);
