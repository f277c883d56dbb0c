// Registry seam (Windows-specific).
#include <windows.h>

#include "os/registry.h"

// Predefined keys are small negative numbers as HKEYs; everything else is
// a handle the seam gave out.
static HKEY K(OsRegKey key) {
  switch (key) {
    case OS_HKEY_CLASSES_ROOT: return HKEY_CLASSES_ROOT;
    case OS_HKEY_CURRENT_USER: return HKEY_CURRENT_USER;
    case OS_HKEY_LOCAL_MACHINE: return HKEY_LOCAL_MACHINE;
    default: return (HKEY)key;
  }
}

uint32_t OsRegOpenKeyEx(OsRegKey parent, const char *subKey, uint32_t access, OsRegKey *key) {
  HKEY native = nullptr;
  LONG result = RegOpenKeyExA(K(parent), subKey, 0, access, &native);
  *key = result == ERROR_SUCCESS ? (OsRegKey)native : 0;
  return (uint32_t)result;
}

uint32_t OsRegQueryInfoKey(OsRegKey key, uint32_t *subKeys, uint32_t *values, uint32_t *maxValueNameLength,
                           uint32_t *maxValueSize) {
  DWORD nativeSubKeys = 0, nativeValues = 0, nativeMaxName = 0, nativeMaxSize = 0;
  LONG result = RegQueryInfoKeyA(K(key), nullptr, nullptr, nullptr, &nativeSubKeys, nullptr, nullptr, &nativeValues,
                                 &nativeMaxName, &nativeMaxSize, nullptr, nullptr);
  if (subKeys != nullptr) *subKeys = nativeSubKeys;
  if (values != nullptr) *values = nativeValues;
  if (maxValueNameLength != nullptr) *maxValueNameLength = nativeMaxName;
  if (maxValueSize != nullptr) *maxValueSize = nativeMaxSize;
  return (uint32_t)result;
}

uint32_t OsRegEnumValue(OsRegKey key, uint32_t index, char *name, uint32_t *nameLength, uint32_t *type, void *data,
                        uint32_t *dataSize) {
  DWORD nativeNameLength = *nameLength;
  DWORD nativeType = 0;
  DWORD nativeDataSize = dataSize != nullptr ? *dataSize : 0;
  LONG result = RegEnumValueA(K(key), index, name, &nativeNameLength, nullptr, &nativeType, (BYTE *)data,
                              dataSize != nullptr ? &nativeDataSize : nullptr);
  *nameLength = nativeNameLength;
  if (type != nullptr) *type = nativeType;
  if (dataSize != nullptr) *dataSize = nativeDataSize;
  return (uint32_t)result;
}

uint32_t OsRegQueryValueEx(OsRegKey key, const char *name, uint32_t *type, void *data, uint32_t *dataSize) {
  DWORD nativeType = 0;
  DWORD nativeDataSize = dataSize != nullptr ? *dataSize : 0;
  LONG result = RegQueryValueExA(K(key), name, nullptr, &nativeType, (BYTE *)data,
                                 dataSize != nullptr ? &nativeDataSize : nullptr);
  if (type != nullptr) *type = nativeType;
  if (dataSize != nullptr) *dataSize = nativeDataSize;
  return (uint32_t)result;
}

uint32_t OsRegCloseKey(OsRegKey key) { return (uint32_t)RegCloseKey(K(key)); }
