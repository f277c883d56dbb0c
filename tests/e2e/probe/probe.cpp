// Test probe (Windows-specific): finds the program's dialogs, reads their
// control texts and presses their buttons, for the end-to-end tests.
#include <windows.h>

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

HWND FindDialog(const char *caption) {
  for (HWND dialog : Dialogs())
    if (WindowText(dialog) == caption) return dialog;
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

int Click(const char *caption, const char *button) {
  HWND dialog = FindDialog(caption);
  if (dialog == nullptr) return 1;
  for (HWND child : Children(dialog)) {
    if (ClassOf(child) != "Button" || WithoutAccelerator(WindowText(child)) != button) continue;
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

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::strcmp(argv[1], "list") == 0) return List();
  if (argc >= 3 && std::strcmp(argv[1], "text") == 0) return Texts(argv[2]);
  if (argc >= 4 && std::strcmp(argv[1], "click") == 0) return Click(argv[2], argv[3]);
  if (argc >= 5 && std::strcmp(argv[1], "settext") == 0) return SetText(argv[2], std::atoi(argv[3]), argv[4]);
  std::fprintf(stderr, "usage: probe list | text CAPTION | click CAPTION BUTTON | settext CAPTION ID TEXT\n");
  return 64;
}
