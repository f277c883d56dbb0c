/* A DLL an attacker plants beside Quillon.exe, for the Wine tests: loaded
 * into the program, it leaves C:\planted-<its file name>.mark and does
 * nothing else. The test copies it under each name the program might load. */
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH], name[MAX_PATH], mark[MAX_PATH + 32];
    GetModuleFileNameA(self, path, sizeof path);
    const char *base = path;
    for (const char *p = path; *p; p++) if (*p == '\\' || *p == '/') base = p + 1;
    lstrcpynA(name, base, sizeof name);
    wsprintfA(mark, "C:\\planted-%s.mark", name);
    HANDLE f = CreateFileA(mark, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
  }
  return TRUE;
}
