// A set of COM-port device interfaces to enumerate, with scripted failures.
//
//   FakeDevEnumReset();
//   fakeDevEnum.devices.push_back({"\\\\?\\usb#vid_1234#mdm#{86e0d1e0-...}", OS_FILE_DEVICE_MODEM,
//                                  "Halvard M7120x Mobile Broadband Data Modem (COM7)"});
//   fakeDevEnum.enumErrors[3] = 5;   // the fourth member fails with error 5
//
// Members are enumerated in vector order. The detail call fails with error
// 122 when the path does not fit the record it is given (a 4-byte header,
// as on x64, then the path and its terminator).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "os/devenum.h"

struct FakeDevice {
  std::string path;
  uint32_t devType = OS_FILE_DEVICE_MODEM;
  std::string friendlyName;
  bool hasDevType = true;
  bool hasFriendlyName = true;
};

struct FakeDevEnumCall {
  std::string name;     // Win32 name, e.g. "SetupDiEnumDeviceInterfaces"
  uint32_t index;       // member index, or the property asked for
  uint32_t size;        // flags, detail record size or property buffer size
};

struct FakeDevEnum {
  std::vector<FakeDevice> devices;
  uint32_t classDevsError;                   // nonzero: SetupDiGetClassDevs fails
  std::map<uint32_t, uint32_t> enumErrors;   // member index -> error
  std::map<uint32_t, uint32_t> detailErrors; // member index -> error
  std::vector<FakeDevEnumCall> calls;
  OsGuid lastClass;
  int setsOpen;  // created and not yet destroyed
};

extern FakeDevEnum fakeDevEnum;
void FakeDevEnumReset();
