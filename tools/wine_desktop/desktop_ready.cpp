// Whether the Wine prefix's desktop can give a program its windows, and a
// hold on that desktop for as long as standard input stays open.
//
// Wine gives a process its display driver once, at its first window, from
// the desktop window that the prefix's explorer owns. A process that needs
// the desktop when there is none starts explorer and waits for it at most
// 10 s; when explorer is slower than that (a busy machine, a new prefix)
// or fails to start, Wine makes a desktop window that no explorer owns.
// Every window made on that desktop then fails, in every process that
// joins it while it lives, and Quillon's first window is its main dialog.
//
// So this program starts the desktop's explorer itself, the way Wine
// would, and waits for it as long as it takes (up to `explorerWaitMs`)
// before it makes its own window: Wine's 10 s never apply. An explorer
// that finds the desktop already served ends at once, and the wait with
// it. The Linux launcher runs this first: "ready" means the desktop works,
// and the hold keeps it (and its explorer) alive until Quillon has joined
// it, so that Quillon never starts an explorer of its own. "no-window"
// means the desktop is spoilt; the launcher ends the hold and tries again
// once the desktop has gone.
#include <windows.h>

#include <cstdio>

namespace {

// Two minutes: a first explorer on a loaded machine was seen to need more
// than Wine's 10 s, never near this.
const DWORD explorerWaitMs = 120000;

// Starts "explorer.exe /desktop", Wine's own command for the desktop of
// the calling process, and waits until it serves its message queue (its
// desktop window is made before that) or has ended.
void StartExplorer() {
  char command[] = "C:\\windows\\system32\\explorer.exe /desktop";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return;  // Wine starts one itself at the first window, as before
  }
  WaitForInputIdle(process.hProcess, explorerWaitMs);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

int main() {
  StartExplorer();
  // Never shown, and gone before anything could send it a message: a
  // window nobody serves would stall every broadcast on the desktop.
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  int ready = window != nullptr;
  if (ready) DestroyWindow(window);
  std::printf("%s\n", ready ? "ready" : "no-window");
  std::fflush(stdout);
  char buffer[256];
  DWORD got = 0;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
  return ready ? 0 : 1;
}
