// Registry seam: opening keys and reading their values, one call per Win32 call.
#pragma once
#include <cstdint>

#include "os/errors.h"

typedef uintptr_t OsRegKey;  // an HKEY

// The predefined roots. Their HKEY values are sign-extended on 64-bit
// Windows, so the backend maps them instead of casting.
enum : OsRegKey {
  OS_HKEY_CLASSES_ROOT = 0x80000000u,
  OS_HKEY_CURRENT_USER = 0x80000001u,
  OS_HKEY_LOCAL_MACHINE = 0x80000002u,
};

enum : uint32_t {
  OS_KEY_QUERY_VALUE = 0x0001,
  OS_KEY_READ = 0x20019,
  OS_KEY_ALL_ACCESS = 0xF003F,
  OS_KEY_WOW64_64KEY = 0x0100,
  OS_KEY_WOW64_32KEY = 0x0200,

  OS_REG_NONE = 0,
  OS_REG_SZ = 1,
  OS_REG_EXPAND_SZ = 2,
  OS_REG_BINARY = 3,
  OS_REG_DWORD = 4,
  OS_REG_MULTI_SZ = 7,

  OS_REG_MAX_VALUE_NAME = 16384,  // characters, terminator included
};

// Each call returns 0 (ERROR_SUCCESS) or the system error code, as its
// Win32 namesake. Sizes are in and out as there: `nameLength` in
// characters (the terminator not counted on the way out), `dataSize` in
// bytes. Data of string types is not necessarily terminated. Out
// parameters other than the key may be null where Win32 allows it.
uint32_t OsRegOpenKeyEx(OsRegKey parent, const char *subKey, uint32_t access, OsRegKey *key);
uint32_t OsRegQueryInfoKey(OsRegKey key, uint32_t *subKeys, uint32_t *values, uint32_t *maxValueNameLength,
                           uint32_t *maxValueSize);
uint32_t OsRegEnumValue(OsRegKey key, uint32_t index, char *name, uint32_t *nameLength, uint32_t *type, void *data,
                        uint32_t *dataSize);
uint32_t OsRegQueryValueEx(OsRegKey key, const char *name, uint32_t *type, void *data, uint32_t *dataSize);
uint32_t OsRegCloseKey(OsRegKey key);
