// An in-memory registry of keys and values, with the Win32 size rules.
//
//   FakeRegistryReset();
//   FakeRegKey &serial = FakeRegistryAddKey("HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
//   serial.values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
//   fakeRegistry.elevated = false;  // HKLM opens asking for write access fail with 5
//
// Keys are named by their full path, root first ("HKLM", "HKCU", "HKCR"),
// and matched exactly. Values keep their order. Data is stored as given:
// FakeRegText adds the terminator a REG_SZ normally carries; leave it off
// to play a value written without one.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "os/registry.h"

struct FakeRegValue {
  std::string name;
  uint32_t type = OS_REG_SZ;
  std::string data;
  bool neverFits = false;  // every read answers ERROR_MORE_DATA with the data's size
};

struct FakeRegKey {
  std::vector<FakeRegValue> values;
  uint32_t openError = 0;  // nonzero: opening the key fails with it
};

struct FakeRegCall {
  std::string name;      // Win32 name, e.g. "RegEnumValueA"
  std::string key;       // full path of the key, or of the one opened
  uint32_t index;        // value index (RegEnumValueA)
  uint32_t nameLength;   // as passed in (RegEnumValueA)
  uint32_t dataSize;     // as passed in; access for RegOpenKeyExA
  uint32_t result;
};

struct FakeRegistry {
  std::map<std::string, FakeRegKey> keys;
  bool elevated;
  std::map<OsRegKey, std::string> open;
  std::vector<FakeRegCall> calls;
  OsRegKey nextKey;
};

extern FakeRegistry fakeRegistry;
void FakeRegistryReset();
FakeRegKey &FakeRegistryAddKey(const std::string &path);
std::string FakeRegText(const std::string &text);
