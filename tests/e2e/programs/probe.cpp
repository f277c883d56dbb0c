// Test probe (Windows-specific): finds the program's dialogs, reads their
// control texts and bars, types, presses their buttons and sends them
// messages, for the end-to-end tests.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string WindowText(HWND window) {
  char text[1024] = {0};
  SendMessageA(window, WM_GETTEXT, sizeof text, (LPARAM)text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {0};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// Flattens line breaks so one dialog stays on one output line.
std::string OneLine(std::string text) {
  for (char &c : text)
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  return text;
}

std::string WithoutAccelerator(const std::string &text) {
  std::string out;
  for (char c : text)
    if (c != '&') out += c;
  return out;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto *found = (std::vector<HWND> *)param;
  if (IsWindowVisible(window) && ClassOf(window) == "#32770") found->push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChildren(HWND window, LPARAM param) {
  ((std::vector<HWND> *)param)->push_back(window);
  return TRUE;
}

std::vector<HWND> Dialogs() {
  std::vector<HWND> found;
  EnumWindows(CollectTopLevel, (LPARAM)&found);
  return found;
}

std::vector<HWND> Children(HWND dialog) {
  std::vector<HWND> found;
  EnumChildWindows(dialog, CollectChildren, (LPARAM)&found);
  return found;
}

// Looks again for up to 3 s before saying there is none: one look in a
// loaded Wine suite once missed a dialog that stood open before and after
// it (the responsiveness test's PIN dialog, between two probes that found
// it), and a dialog that is really gone is still reported as gone.
HWND FindDialog(const char *caption) {
  for (int waited = 0;; waited += 50) {
    for (HWND dialog : Dialogs())
      if (WindowText(dialog) == caption) return dialog;
    if (waited >= 3000) break;
    Sleep(50);
  }
  // What was there instead, so that a test's failure shows whether the
  // dialog was hidden, captioned otherwise or gone: every top-level dialog
  // window, visible or not, with its caption as read without a message.
  std::vector<HWND> all;
  EnumWindows(CollectChildren, (LPARAM)&all);
  std::string seen;
  for (HWND window : all) {
    if (ClassOf(window) != "#32770") continue;
    char text[256] = {0};
    GetWindowTextA(window, text, sizeof text);
    seen += std::string(seen.empty() ? "" : ", ") + "\"" + OneLine(text) + "\"" +
            (IsWindowVisible(window) ? "" : " hidden");
  }
  std::printf("no dialog \"%s\" after 3 s; dialog windows: %s\n", caption, seen.empty() ? "none" : seen.c_str());
  std::fflush(stdout);
  return nullptr;
}

int List() {
  for (HWND dialog : Dialogs()) {
    std::string line = OneLine(WindowText(dialog));
    for (HWND child : Children(dialog)) line += "\t" + OneLine(WindowText(child));
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int Texts(const char *caption) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  for (HWND child : Children(dialog))
    std::printf("%d\t%s\t%s\n", GetDlgCtrlID(child), ClassOf(child).c_str(), OneLine(WindowText(child)).c_str());
  return 0;
}

// Presses the button as a user would: only once it is enabled. The main
// dialog greys OK for the length of each poll for the module (a few
// milliseconds a second while it looks), and ignores an OK that comes
// then; a click posted into that moment would be lost. Waits up to 10 s for
// the button, then gives up with 3.
int Click(const char *caption, const char *button) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  for (HWND child : Children(dialog)) {
    if (ClassOf(child) != "Button" || WithoutAccelerator(WindowText(child)) != button) continue;
    for (int waited = 0; !IsWindowEnabled(child); waited += 5) {
      if (waited >= 10000 || !IsWindow(child)) return 3;
      Sleep(5);
    }
    PostMessageA(child, BM_CLICK, 0, 0);
    return 0;
  }
  return 2;
}

int SetText(const char *caption, int id, const char *text) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return 2;
  SendMessageA(control, WM_SETTEXT, 0, (LPARAM)text);
  return 0;
}

// A progress bar's position, range and bar colour (CLR_DEFAULT when none
// was set).
int Bar(const char *caption, int id) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  HWND bar = GetDlgItem(dialog, id);
  if (bar == nullptr) return 2;
  // No PBRANGE: a pointer would not cross into the dialog's process.
  LRESULT low = SendMessageA(bar, PBM_GETRANGE, TRUE, 0);
  LRESULT high = SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
  LRESULT position = SendMessageA(bar, PBM_GETPOS, 0, 0);
  LRESULT color = SendMessageA(bar, PBM_GETBARCOLOR, 0, 0);
  std::printf("%d\t%d\t%d\t%06lx\n", (int)position, (int)low, (int)high, (unsigned long)color);
  return 0;
}

// A window message to the dialog: "send" waits and prints the result,
// "post" returns at once (as a key press or the close box would).
int Message(const char *how, const char *caption, const char *message, const char *wParam, const char *lParam) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  UINT number = (UINT)std::strtoul(message, nullptr, 0);
  WPARAM w = (WPARAM)std::strtoull(wParam, nullptr, 0);
  LPARAM l = (LPARAM)std::strtoll(lParam, nullptr, 0);
  if (std::strcmp(how, "post") == 0) return PostMessageA(dialog, number, w, l) ? 0 : 3;
  std::printf("%lld\n", (long long)SendMessageA(dialog, number, w, l));
  return 0;
}

// How long the dialog takes to answer, measured from inside one process
// so that starting a probe does not hide a stall: WM_NULL with a time-out
// every 20 ms for `seconds`, after clicking `button` when one is named.
// Prints "tries N worst MS slow K greyed G refworst MS": K answers took
// `limitMs` or more (or none came within 5 s); G tries found OK and Cancel
// both greyed out. Stops early when the dialog has gone.
// Each try also asks the desktop window, which explorer's thread serves
// and which waits on nothing: its worst answer (refworst) is what Wine's
// message path and the machine's scheduling cost on their own, the floor
// under any dialog's figure.
int Responsive(const char *caption, int seconds, int limitMs, const char *button) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  if (button != nullptr) {
    HWND target = nullptr;
    for (HWND child : Children(dialog))
      if (ClassOf(child) == "Button" && WithoutAccelerator(WindowText(child)) == button) target = child;
    if (target == nullptr) return 2;
    PostMessageA(target, BM_CLICK, 0, 0);
  }
  LARGE_INTEGER frequency, start, before, after;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int tries = 0, slow = 0, greyed = 0;
  double worst = 0, referenceWorst = 0;
  HWND reference = GetDesktopWindow();
  for (;;) {
    QueryPerformanceCounter(&before);
    if ((before.QuadPart - start.QuadPart) / frequency.QuadPart >= seconds || !IsWindow(dialog)) break;
    DWORD_PTR result = 0;
    LRESULT answered = SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    QueryPerformanceCounter(&after);
    double ms = (double)(after.QuadPart - before.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    if (!IsWindow(dialog)) break;
    tries++;
    if (ms > worst) worst = ms;
    if (answered == 0 || ms >= limitMs) slow++;
    HWND ok = GetDlgItem(dialog, IDOK), cancel = GetDlgItem(dialog, IDCANCEL);
    if (ok != nullptr && cancel != nullptr && !IsWindowEnabled(ok) && !IsWindowEnabled(cancel)) greyed++;
    QueryPerformanceCounter(&before);
    SendMessageTimeoutA(reference, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
    QueryPerformanceCounter(&after);
    ms = (double)(after.QuadPart - before.QuadPart) * 1000.0 / (double)frequency.QuadPart;
    if (ms > referenceWorst) referenceWorst = ms;
    Sleep(20);
  }
  std::printf("tries %d worst %.1f slow %d greyed %d refworst %.1f\n", tries, worst, slow, greyed, referenceWorst);
  return 0;
}

// Characters as the keyboard delivers them, so the control's own filter
// (digits only, say) applies, unlike settext, which is like a paste.
int Type(const char *caption, int id, const char *text) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return 2;
  for (const char *c = text; *c != '\0'; c++) SendMessageA(control, WM_CHAR, (WPARAM)(unsigned char)*c, 1);
  return 0;
}

// Holds a file open and shares nothing, as another program that has it
// open would; says "held" once it has it, and lets go after `seconds`.
int Hold(const char *path, int seconds) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::printf("not held: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  Sleep((DWORD)seconds * 1000);
  CloseHandle(file);
  return 0;
}

// How many handles the system's handle table holds for a process. Wine
// answers GetProcessHandleCount with 0; its table of every process's
// handles is the real count, and Windows has the same table.
long CountHandles(DWORD pid) {
  typedef LONG(WINAPI * QuerySystem)(int, void *, ULONG, ULONG *);
  auto query = (QuerySystem)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  if (query == nullptr) return -1;
  std::vector<unsigned char> buffer(1 << 16);
  for (int attempt = 0; attempt < 16; attempt++) {
    ULONG needed = 0;
    LONG status = query(SystemHandleInformation, buffer.data(), (ULONG)buffer.size(), &needed);
    if (status == 0) {
      auto *table = (SYSTEM_HANDLE_INFORMATION *)buffer.data();
      long count = 0;
      for (ULONG i = 0; i < table->Count; i++)
        if (table->Handle[i].OwnerPid == pid) count++;
      return count;
    }
    // STATUS_INFO_LENGTH_MISMATCH: the table grew; ask again with room.
    if ((ULONG)status != 0xC0000004UL) return -1;
    buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
  }
  return -1;
}

// The handles and memory of every process of that executable name, one
// line each: "pid handles working-set peak-working-set" (bytes). Exits 1
// when there is none.
int Usage(const char *name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 2;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  int found = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, name) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    PROCESS_MEMORY_COUNTERS memory;
    std::memset(&memory, 0, sizeof memory);
    memory.cb = sizeof memory;
    long handles = CountHandles(entry.th32ProcessID);
    if (handles >= 0 && GetProcessMemoryInfo(process, &memory, sizeof memory)) {
      std::printf("%lu %ld %llu %llu\n", entry.th32ProcessID, handles, (unsigned long long)memory.WorkingSetSize,
                  (unsigned long long)memory.PeakWorkingSetSize);
      found++;
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return found > 0 ? 0 : 1;
}

// The visible dialogs as List prints them, in one text, so that two
// looks can be compared.
std::string Snapshot() {
  std::string text;
  for (HWND dialog : Dialogs()) {
    text += "dialog\t" + OneLine(WindowText(dialog));
    for (HWND child : Children(dialog)) text += "\t" + OneLine(WindowText(child));
    text += "\n";
  }
  return text;
}

// Watches the dialogs from inside one process: prints a snapshot, ended by
// "end", each time it changes, until the caller creates `stopFile` (it has
// seen what it waited for) or `timeoutMs` has passed. One process for a
// whole wait, where a process per look costs far more than the look.
int Wait(int timeoutMs, const char *stopFile) {
  const DWORD start = GetTickCount();
  std::string shown;
  bool first = true;
  for (;;) {
    if (GetFileAttributesA(stopFile) != INVALID_FILE_ATTRIBUTES) return 0;
    std::string now = Snapshot();
    if (first || now != shown) {
      std::printf("%send\n", now.c_str());
      std::fflush(stdout);
      shown = now;
      first = false;
    }
    if (GetTickCount() - start >= (DWORD)timeoutMs) return 1;
    Sleep(50);
  }
}

// The caption of the window that owns the dialog (a message box's owner
// is the window it was shown for); exits 2 when it has none.
int Owner(const char *caption) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  HWND owner = GetWindow(dialog, GW_OWNER);
  if (owner == nullptr) return 2;
  std::printf("%s\n", OneLine(WindowText(owner)).c_str());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "list") == 0) return List();
  if (argc >= 3 && std::strcmp(argv[1], "text") == 0) return Texts(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "click") == 0) return Click(argv[2], argv[3]);
  if (argc >= 5 && std::strcmp(argv[1], "settext") == 0) return SetText(argv[2], std::atoi(argv[3]), argv[4]);
  if (argc >= 4 && std::strcmp(argv[1], "bar") == 0) return Bar(argv[2], std::atoi(argv[3]));
  if (argc >= 6 && (std::strcmp(argv[1], "send") == 0 || std::strcmp(argv[1], "post") == 0))
    return Message(argv[1], argv[2], argv[3], argv[4], argv[5]);
  if (argc >= 5 && std::strcmp(argv[1], "type") == 0) return Type(argv[2], std::atoi(argv[3]), argv[4]);
  if (argc >= 4 && std::strcmp(argv[1], "hold") == 0) return Hold(argv[2], std::atoi(argv[3]));
  if (argc >= 3 && std::strcmp(argv[1], "usage") == 0) return Usage(argv[2]);
  if (argc >= 5 && std::strcmp(argv[1], "responsive") == 0)
    return Responsive(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argc >= 6 ? argv[5] : nullptr);
  if (argc >= 4 && std::strcmp(argv[1], "wait") == 0) return Wait(std::atoi(argv[2]), argv[3]);
  if (argc >= 3 && std::strcmp(argv[1], "owner") == 0) return Owner(argv[2]);
  std::fprintf(stderr,
               "usage: probe list | text CAPTION | click CAPTION BUTTON | settext CAPTION ID TEXT | bar CAPTION ID |\n"
               "       send|post CAPTION MESSAGE WPARAM LPARAM | type CAPTION ID TEXT |\n"
               "       hold PATH SECONDS | usage EXE-NAME | responsive CAPTION SECONDS LIMIT-MS [BUTTON] |\n"
               "       wait TIMEOUT-MS STOP-FILE | owner CAPTION\n");
  return 64;
}
