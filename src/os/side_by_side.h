// The side-by-side binding of a DLL: where the process's activation
// context (the manifest's dependencies, and whatever an application
// configuration file beside the program redirects) takes a DLL from. That
// binding comes before any search folder, so limiting the search does not
// govern it.
#pragma once

enum { OS_BINDING_PATH = 1024 };

enum OsDllBindingKind {
  OS_DLL_NOT_REDIRECTED = 0,  // the context has no entry: the loader's search decides
  OS_DLL_REDIRECTED = 1,      // an assembly of the context carries the DLL
  OS_DLL_QUERY_FAILED = -1,   // the context could not be read
};

// What the context says about one DLL. Paths are UTF-8, as the context
// gives them.
struct OsDllBinding {
  // The assembly's manifest, a full path.
  char manifest[OS_BINDING_PATH];
  // The assembly's folder as the context names it: for an assembly of the
  // store, its folder's name within it.
  char folder[OS_BINDING_PATH];
  // The failed call's error, for OS_DLL_QUERY_FAILED.
  unsigned long error;
};

// Looks `dll` up in the active activation context; fills `binding` when
// redirected or failed. Loads nothing.
OsDllBindingKind OsFindDllBinding(const wchar_t *dll, OsDllBinding *binding);

// The Windows folder (C:\Windows), UTF-8, into `path` of `capacity`
// bytes. Returns its length, 0 when it cannot be read.
int OsGetWindowsFolder(char *path, int capacity);
