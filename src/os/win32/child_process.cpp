// Child-process seam (Windows-specific).
#include <windows.h>

#include "os/child_process.h"

uint32_t OsChildStart(const char *application, char *commandLine, OsChild *child) {
  *child = OsChild{0, 0};
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  ZeroMemory(&info, sizeof info);
  if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return GetLastError();
  child->process = (uintptr_t)info.hProcess;
  child->thread = (uintptr_t)info.hThread;
  return 0;
}

int OsChildWait(const OsChild *child, int timeoutMs) {
  if (child == nullptr || child->process == 0) return OS_WAIT_FAILED;
  // Any negative is the unlimited wait rather than a DWORD of some 49 days.
  DWORD result = WaitForSingleObject((HANDLE)child->process, timeoutMs >= 0 ? (DWORD)timeoutMs : INFINITE);
  return result == WAIT_FAILED ? OS_WAIT_FAILED : (int)result;
}

void OsChildClose(OsChild *child) {
  if (child == nullptr) return;
  if (child->thread != 0) CloseHandle((HANDLE)child->thread);
  if (child->process != 0) CloseHandle((HANDLE)child->process);
  *child = OsChild{0, 0};
}
