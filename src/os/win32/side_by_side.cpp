// Side-by-side binding (Windows-specific).
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "os/side_by_side.h"

// Wide text to UTF-8, cut to capacity - 1 bytes. `length` in characters,
// -1 when terminated.
static void ToUtf8(const wchar_t *text, int length, char *out, int capacity) {
  out[0] = '\0';
  if (text == nullptr || length == 0) return;
  int written = WideCharToMultiByte(CP_UTF8, 0, text, length, out, capacity - 1, nullptr, nullptr);
  out[written > 0 ? written : 0] = '\0';
}

static OsDllBindingKind Failed(OsDllBinding *binding, unsigned long error) {
  binding->error = error;
  return OS_DLL_QUERY_FAILED;
}

OsDllBindingKind OsFindDllBinding(const wchar_t *dll, OsDllBinding *binding) {
  binding->manifest[0] = '\0';
  binding->folder[0] = '\0';
  binding->error = 0;
  ACTCTX_SECTION_KEYED_DATA data;
  ZeroMemory(&data, sizeof data);
  data.cbSize = sizeof data;
  if (!FindActCtxSectionStringW(FIND_ACTCTX_SECTION_KEY_RETURN_HACTCTX, nullptr,
                                ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, dll, &data)) {
    DWORD error = GetLastError();
    // No context, or no entry for the name: nothing redirects it.
    if (error == ERROR_SXS_KEY_NOT_FOUND || error == ERROR_SXS_SECTION_NOT_FOUND) return OS_DLL_NOT_REDIRECTED;
    return Failed(binding, error);
  }
  // The assembly's record, in two calls: its size, then the record.
  SIZE_T needed = 0;
  DWORD index = data.ulAssemblyRosterIndex;
  QueryActCtxW(0, data.hActCtx, &index, AssemblyDetailedInformationInActivationContext, nullptr, 0, &needed);
  OsDllBindingKind kind = OS_DLL_REDIRECTED;
  void *buffer = needed >= sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION) ? std::malloc(needed) : nullptr;
  if (buffer == nullptr) {
    kind = Failed(binding, needed == 0 ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY);
  } else if (!QueryActCtxW(0, data.hActCtx, &index, AssemblyDetailedInformationInActivationContext, buffer, needed,
                           &needed)) {
    kind = Failed(binding, GetLastError());
  } else {
    const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION *info =
        (const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION *)buffer;
    // Lengths are in bytes, without the terminator.
    ToUtf8(info->lpAssemblyManifestPath, (int)(info->ulManifestPathLength / sizeof(wchar_t)), binding->manifest,
           sizeof binding->manifest);
    ToUtf8(info->lpAssemblyDirectoryName, (int)(info->ulAssemblyDirectoryNameLength / sizeof(wchar_t)),
           binding->folder, sizeof binding->folder);
  }
  std::free(buffer);
  if (data.hActCtx != nullptr) ReleaseActCtx(data.hActCtx);
  return kind;
}

int OsGetWindowsFolder(char *path, int capacity) {
  if (path == nullptr || capacity <= 0) return 0;
  path[0] = '\0';
  wchar_t wide[MAX_PATH];
  UINT length = GetSystemWindowsDirectoryW(wide, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  ToUtf8(wide, (int)length, path, capacity);
  return (int)std::strlen(path);
}
