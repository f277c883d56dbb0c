// DLL search order (Windows-specific).
#include <windows.h>

#include "os/dll_search.h"

typedef BOOL(WINAPI *SetDefaultDllDirectoriesProc)(DWORD);

int OsRestrictDllSearch() {
  // Looked up rather than imported: kernel32 has it only from Windows 8 and
  // from Windows 7's loader update on, and a missing import would stop the
  // program before it could say why.
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  SetDefaultDllDirectoriesProc setDefault =
      kernel32 == nullptr ? nullptr
                          : (SetDefaultDllDirectoriesProc)(void *)GetProcAddress(kernel32, "SetDefaultDllDirectories");
  int restricted = setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // An empty string removes the current folder from the search.
  int noCurrent = SetDllDirectoryW(L"") != 0;
  return restricted && noCurrent;
}
