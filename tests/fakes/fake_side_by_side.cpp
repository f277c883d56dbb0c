// An activation context without a system.
#include "fakes/fake_side_by_side.h"

#include <cstdio>

FakeSideBySide fakeSideBySide;

void FakeSideBySideReset() {
  fakeSideBySide = FakeSideBySide{};
  fakeSideBySide.kind = OS_DLL_NOT_REDIRECTED;
  fakeSideBySide.windowsFolder = "C:\\Windows";
}

OsDllBindingKind OsFindDllBinding(const wchar_t *dll, OsDllBinding *binding) {
  std::string name;
  for (; dll != nullptr && *dll != 0; dll++) name += (char)*dll;
  fakeSideBySide.lookups.push_back(name);
  std::snprintf(binding->manifest, sizeof binding->manifest, "%s", fakeSideBySide.binding.manifest.c_str());
  std::snprintf(binding->folder, sizeof binding->folder, "%s", fakeSideBySide.binding.folder.c_str());
  binding->error = fakeSideBySide.binding.error;
  return fakeSideBySide.kind;
}

int OsGetWindowsFolder(char *path, int capacity) {
  if (fakeSideBySide.windowsFolder.empty() || capacity <= 0) return 0;
  return std::snprintf(path, (size_t)capacity, "%s", fakeSideBySide.windowsFolder.c_str());
}
