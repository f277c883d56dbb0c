// An activation context out of a test's script: what it says about each
// DLL, and the Windows folder. Every lookup is recorded.
//
//   FakeSideBySideReset();  // nothing redirected, Windows in C:\Windows
//   fakeSideBySide.kind = OS_DLL_REDIRECTED;
//   fakeSideBySide.binding.manifest = "C:\\Windows\\WinSxS\\Manifests\\x.manifest";
#pragma once
#include <string>
#include <vector>

#include "os/side_by_side.h"

struct FakeSideBySide {
  OsDllBindingKind kind;
  struct {
    std::string manifest;
    std::string folder;
    unsigned long error;
  } binding;
  std::string windowsFolder;  // empty: it cannot be read
  std::vector<std::string> lookups;
};

extern FakeSideBySide fakeSideBySide;
void FakeSideBySideReset();
