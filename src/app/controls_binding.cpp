// The common controls' binding: the store or System32, nothing else. The
// store under the Windows folder is written only by Windows' installer;
// a Downloads folder by anyone.
#include "app/controls_binding.h"

#include <cstdio>
#include <cstring>

#include "log/trace_log.h"
#include "os/side_by_side.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\app\\controls_binding";

static const wchar_t controlsDll[] = L"comctl32.dll";
static const char storeFolder[] = "\\WinSxS\\";
static const char manifestsFolder[] = "Manifests\\";

static char Fold(char c) { return c == '/' ? '\\' : (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// Whether `path` lies below `prefix`: case folded, either slash, and no
// component that climbs back out (".."), which would make the prefix a lie.
static int PathBelow(const char *path, const char *prefix) {
  size_t length = std::strlen(prefix);
  if (std::strlen(path) <= length) return 0;
  for (size_t at = 0; at < length; at++)
    if (Fold(path[at]) != Fold(prefix[at])) return 0;
  for (const char *part = path; (part = std::strstr(part, "..")) != nullptr; part += 2) {
    char before = part == path ? '\\' : Fold(part[-1]);
    char after = Fold(part[2]);
    if (before == '\\' && (after == '\\' || after == '\0')) return 0;
  }
  return 1;
}

// A folder name the store gives: one component, nothing that leads
// elsewhere.
static int PlainName(const char *name) {
  return name[0] != '\0' && std::strpbrk(name, "\\/:") == nullptr && std::strcmp(name, ".") != 0 &&
         std::strcmp(name, "..") != 0;
}

// The verdict on a redirected binding; `folder` gets the assembly's folder
// as the loader would take it (the store's folder plus the name).
static ControlsBindingVerdict JudgeRedirection(const OsDllBinding *binding, const char *store, char *folder,
                                               size_t capacity) {
  // The extended-length form names the same path.
  const char *manifest = binding->manifest;
  if (std::strncmp(manifest, "\\\\?\\", 4) == 0) manifest += 4;
  const char *name = binding->folder;
  if (std::strncmp(name, "\\\\?\\", 4) == 0) name += 4;
  if (PlainName(name)) {
    std::snprintf(folder, capacity, "%s%s", store, name);
  } else if (name[0] == '\0') {
    // No folder named: a store assembly's files lie in the folder named as
    // its manifest in the store's manifests folder.
    char manifests[2 * OS_BINDING_PATH];
    std::snprintf(manifests, sizeof manifests, "%s%s", store, manifestsFolder);
    if (PathBelow(manifest, manifests)) {
      const char *file = manifest + std::strlen(manifests);
      const char *dot = std::strrchr(file, '.');
      if (PlainName(file) && dot != nullptr && dot > file)
        std::snprintf(folder, capacity, "%s%.*s", store, (int)(dot - file), file);
    }
  } else {
    std::snprintf(folder, capacity, "%s", name);
  }
  return PathBelow(manifest, store) && PathBelow(folder, store) ? CONTROLS_FROM_STORE : CONTROLS_REFUSED;
}

ControlsBindingVerdict CheckControlsBinding() {
  OsDllBinding binding;
  OsDllBindingKind kind = OsFindDllBinding(controlsDll, &binding);
  if (kind == OS_DLL_NOT_REDIRECTED) {
    TRACE(TRACE_DEBUG, "comctl32.dll not redirected: System32's\n");
    return CONTROLS_FROM_SYSTEM;
  }
  if (kind == OS_DLL_QUERY_FAILED) {
    TRACE(TRACE_FATAL, "comctl32.dll binding cannot be read (error %lu); nothing is shown\n", binding.error);
    return CONTROLS_REFUSED;
  }
  char windows[OS_BINDING_PATH];
  char store[OS_BINDING_PATH + sizeof storeFolder];
  char folder[2 * OS_BINDING_PATH];
  folder[0] = '\0';
  ControlsBindingVerdict verdict = CONTROLS_REFUSED;
  if (OsGetWindowsFolder(windows, sizeof windows) > 0) {
    size_t length = std::strlen(windows);
    // A Windows folder at a drive's root ends in its separator already.
    if (length > 0 && (windows[length - 1] == '\\' || windows[length - 1] == '/')) windows[length - 1] = '\0';
    std::snprintf(store, sizeof store, "%s%s", windows, storeFolder);
    verdict = JudgeRedirection(&binding, store, folder, sizeof folder);
  }
  if (verdict == CONTROLS_REFUSED) {
    TRACE(TRACE_FATAL, "comctl32.dll bound outside the side-by-side store: %s (manifest %s); nothing is shown\n",
          folder[0] != '\0' ? folder : "(no folder)", binding.manifest[0] != '\0' ? binding.manifest : "(none)");
    return CONTROLS_REFUSED;
  }
  // Two lines: Wine's debugger output shortens long ones.
  TRACE(TRACE_DEBUG, "comctl32.dll from the side-by-side store: %s\n", folder);
  TRACE(TRACE_DEBUG, "comctl32.dll's manifest: %s\n", binding.manifest);
  return CONTROLS_FROM_STORE;
}
