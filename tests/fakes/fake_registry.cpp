// An in-memory registry of keys and values, with the Win32 size rules.
#include "fakes/fake_registry.h"

#include <cstring>

FakeRegistry fakeRegistry;

void FakeRegistryReset() {
  fakeRegistry = FakeRegistry{};
  fakeRegistry.elevated = true;
  fakeRegistry.nextKey = 0x1000;
}

FakeRegKey &FakeRegistryAddKey(const std::string &path) { return fakeRegistry.keys[path]; }

std::string FakeRegText(const std::string &text) { return text + std::string(1, '\0'); }

static uint32_t Record(const char *name, const std::string &key, uint32_t index, uint32_t nameLength,
                       uint32_t dataSize, uint32_t result) {
  fakeRegistry.calls.push_back(FakeRegCall{name, key, index, nameLength, dataSize, result});
  return result;
}

static std::string PathOf(OsRegKey key) {
  switch (key) {
    case OS_HKEY_CLASSES_ROOT: return "HKCR";
    case OS_HKEY_CURRENT_USER: return "HKCU";
    case OS_HKEY_LOCAL_MACHINE: return "HKLM";
  }
  auto open = fakeRegistry.open.find(key);
  return open == fakeRegistry.open.end() ? "" : open->second;
}

static FakeRegKey *KeyOf(OsRegKey key) {
  auto open = fakeRegistry.open.find(key);
  if (open == fakeRegistry.open.end()) return nullptr;
  auto found = fakeRegistry.keys.find(open->second);
  return found == fakeRegistry.keys.end() ? nullptr : &found->second;
}

uint32_t OsRegOpenKeyEx(OsRegKey parent, const char *subKey, uint32_t access, OsRegKey *key) {
  *key = 0;
  std::string path = PathOf(parent);
  if (path.empty()) return Record("RegOpenKeyExA", "", 0, 0, access, OS_ERROR_INVALID_HANDLE);
  if (subKey != nullptr && subKey[0] != '\0') path += std::string("\\") + subKey;
  auto found = fakeRegistry.keys.find(path);
  if (found == fakeRegistry.keys.end()) return Record("RegOpenKeyExA", path, 0, 0, access, OS_ERROR_FILE_NOT_FOUND);
  if (found->second.openError != 0) return Record("RegOpenKeyExA", path, 0, 0, access, found->second.openError);
  // Anything beyond reading a machine key needs administrator rights.
  uint32_t beyondRead = access & ~(OS_KEY_READ | OS_KEY_WOW64_32KEY | OS_KEY_WOW64_64KEY);
  if (!fakeRegistry.elevated && beyondRead != 0 && path.rfind("HKLM", 0) == 0)
    return Record("RegOpenKeyExA", path, 0, 0, access, OS_ERROR_ACCESS_DENIED);
  *key = fakeRegistry.nextKey;
  fakeRegistry.nextKey += 4;
  fakeRegistry.open[*key] = path;
  return Record("RegOpenKeyExA", path, 0, 0, access, 0);
}

uint32_t OsRegQueryInfoKey(OsRegKey key, uint32_t *subKeys, uint32_t *values, uint32_t *maxValueNameLength,
                           uint32_t *maxValueSize) {
  FakeRegKey *found = KeyOf(key);
  if (found == nullptr) return Record("RegQueryInfoKeyA", "", 0, 0, 0, OS_ERROR_INVALID_HANDLE);
  const std::string prefix = PathOf(key) + "\\";
  uint32_t children = 0;
  for (const auto &other : fakeRegistry.keys)
    if (other.first.rfind(prefix, 0) == 0 && other.first.find('\\', prefix.size()) == std::string::npos) children++;
  uint32_t longestName = 0, largestData = 0;
  for (const FakeRegValue &value : found->values) {
    if (value.name.size() > longestName) longestName = (uint32_t)value.name.size();
    if (value.data.size() > largestData) largestData = (uint32_t)value.data.size();
  }
  if (subKeys != nullptr) *subKeys = children;
  if (values != nullptr) *values = (uint32_t)found->values.size();
  if (maxValueNameLength != nullptr) *maxValueNameLength = longestName;
  if (maxValueSize != nullptr) *maxValueSize = largestData;
  return Record("RegQueryInfoKeyA", PathOf(key), 0, 0, 0, 0);
}

uint32_t OsRegEnumValue(OsRegKey key, uint32_t index, char *name, uint32_t *nameLength, uint32_t *type, void *data,
                        uint32_t *dataSize) {
  const uint32_t nameRoom = *nameLength;
  const uint32_t dataRoom = dataSize != nullptr ? *dataSize : 0;
  auto done = [&](uint32_t result) {
    return Record("RegEnumValueA", PathOf(key), index, nameRoom, dataRoom, result);
  };
  FakeRegKey *found = KeyOf(key);
  if (found == nullptr) return done(OS_ERROR_INVALID_HANDLE);
  if (index >= found->values.size()) return done(OS_ERROR_NO_MORE_ITEMS);
  const FakeRegValue &value = found->values[index];
  const uint32_t size = (uint32_t)value.data.size();
  if (type != nullptr) *type = value.type;
  if (dataSize != nullptr) *dataSize = size;
  // The name needs room for its terminator; when it has none, nothing is copied.
  if (value.name.size() + 1 > nameRoom) return done(OS_ERROR_MORE_DATA);
  std::memcpy(name, value.name.c_str(), value.name.size() + 1);
  *nameLength = (uint32_t)value.name.size();
  if (data != nullptr && (value.neverFits || size > dataRoom)) return done(OS_ERROR_MORE_DATA);
  if (data != nullptr) std::memcpy(data, value.data.data(), size);
  return done(0);
}

uint32_t OsRegQueryValueEx(OsRegKey key, const char *name, uint32_t *type, void *data, uint32_t *dataSize) {
  const uint32_t dataRoom = dataSize != nullptr ? *dataSize : 0;
  auto done = [&](uint32_t result) { return Record("RegQueryValueExA", PathOf(key), 0, 0, dataRoom, result); };
  FakeRegKey *found = KeyOf(key);
  if (found == nullptr) return done(OS_ERROR_INVALID_HANDLE);
  const std::string wanted = name != nullptr ? name : "";
  for (const FakeRegValue &value : found->values) {
    if (value.name != wanted) continue;
    const uint32_t size = (uint32_t)value.data.size();
    if (type != nullptr) *type = value.type;
    if (dataSize != nullptr) *dataSize = size;
    if (data == nullptr) return done(0);
    if (value.neverFits || size > dataRoom) return done(OS_ERROR_MORE_DATA);
    std::memcpy(data, value.data.data(), size);
    return done(0);
  }
  return done(OS_ERROR_FILE_NOT_FOUND);
}

uint32_t OsRegCloseKey(OsRegKey key) {
  auto open = fakeRegistry.open.find(key);
  if (open == fakeRegistry.open.end()) return Record("RegCloseKey", "", 0, 0, 0, OS_ERROR_INVALID_HANDLE);
  std::string path = open->second;
  fakeRegistry.open.erase(open);
  return Record("RegCloseKey", path, 0, 0, 0, 0);
}
