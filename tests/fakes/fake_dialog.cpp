// Dialogs without windows.
#include "fakes/fake_dialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "fakes/fake_thread.h"

FakeDialog fakeDialog;

void FakeDialogReset() {
  fakeDialog = FakeDialog{};
  fakeDialog.nextWindow = 0x1000;
}

static void Record(const char *name, OsWindow window, int item, const std::string &text = "", int64_t a = 0,
                   int64_t b = 0) {
  // Windows belong to the interface thread; other threads only send or
  // post it requests.
  if (FakeThreadCurrent() != nullptr && std::strcmp(name, "SendRequest") != 0 && std::strcmp(name, "PostRequest") != 0)
    ADD_FAILURE() << "Os" << name << " called off the interface thread";
  fakeDialog.calls.push_back(FakeDialogCall{name, window, item, text, a, b});
}

static FakeDialogWindow *Find(OsWindow window) {
  auto found = fakeDialog.windows.find(window);
  return found == fakeDialog.windows.end() ? nullptr : &found->second;
}

int OsDialogRun(int resource, OsWindow owner, const OsDialogLogic *logic) {
  Record("DialogRun", owner, resource);
  if (fakeDialog.failCreate.count(resource) != 0) return -1;
  OsWindow dialog = (OsWindow)(fakeDialog.nextWindow += 0x10);
  FakeDialogWindow &window = fakeDialog.windows[dialog];
  window = FakeDialogWindow{};
  window.resource = resource;
  window.owner = owner;
  window.logic = logic;
  window.items = fakeDialog.presetTexts;
  if (logic != nullptr && logic->init != nullptr) logic->init(dialog);
  if (!Find(dialog)->ended) FakeDialogPump();
  auto user = fakeDialog.users.find(resource);
  if (!Find(dialog)->ended && user != fakeDialog.users.end()) {
    FakeDialogUser play = user->second;  // the script may replace itself
    play(dialog);
  }
  if (!Find(dialog)->ended) FakeDialogPump();
  FakeDialogWindow *after = Find(dialog);
  return after->ended ? after->endCode : -2;
}

void OsDialogEnd(OsWindow dialog, int code) {
  Record("DialogEnd", dialog, 0, "", code);
  if (FakeDialogWindow *window = Find(dialog)) {
    if (!window->ended) window->endCode = code;
    window->ended = true;
  }
}

void OsSetItemText(OsWindow dialog, int item, const char *text) {
  Record("SetItemText", dialog, item, text != nullptr ? text : "");
  if (FakeDialogWindow *window = Find(dialog)) window->items[item] = text != nullptr ? text : "";
}

static int CopyOut(const std::string &from, char *text, int capacity) {
  if (text == nullptr || capacity <= 0) return 0;
  int length = (int)from.size() < capacity - 1 ? (int)from.size() : capacity - 1;
  std::memcpy(text, from.data(), (size_t)length);
  text[length] = '\0';
  return length;
}

int OsGetItemText(OsWindow dialog, int item, char *text, int capacity) {
  Record("GetItemText", dialog, item);
  FakeDialogWindow *window = Find(dialog);
  return CopyOut(window != nullptr ? window->items[item] : std::string(), text, capacity);
}

void OsSetCaption(OsWindow window, const char *text) {
  Record("SetCaption", window, 0, text != nullptr ? text : "");
  if (FakeDialogWindow *found = Find(window)) found->caption = text != nullptr ? text : "";
}

int OsGetCaption(OsWindow window, char *text, int capacity) {
  Record("GetCaption", window, 0);
  FakeDialogWindow *found = Find(window);
  return CopyOut(found != nullptr ? found->caption : std::string(), text, capacity);
}

void OsFocusItem(OsWindow dialog, int item) {
  Record("FocusItem", dialog, item);
  if (FakeDialogWindow *window = Find(dialog)) window->focus = item;
}

int OsFocusedItem(OsWindow dialog) {
  FakeDialogWindow *window = Find(dialog);
  return window != nullptr ? window->focus : 0;
}

void OsEnableItem(OsWindow dialog, int item, int enabled) {
  Record("EnableItem", dialog, item, "", enabled);
  FakeDialogWindow *window = Find(dialog);
  if (window == nullptr) return;
  if (enabled) {
    window->disabled.erase(item);
    return;
  }
  window->disabled.insert(item);
  if (window->focus == item) window->focus = 0;  // as Windows takes it from a greyed control
}

void OsSetBarRange(OsWindow dialog, int item, int low, int high) {
  Record("SetBarRange", dialog, item, "", low, high);
  if (FakeDialogWindow *window = Find(dialog)) window->ranges[item] = {low, high};
}

void OsSetBarPos(OsWindow dialog, int item, int position) {
  Record("SetBarPos", dialog, item, "", position);
  if (FakeDialogWindow *window = Find(dialog)) window->positions[item] = position;
}

void OsSetBarColor(OsWindow dialog, int item, uint32_t rgb) {
  Record("SetBarColor", dialog, item, "", rgb);
  if (FakeDialogWindow *window = Find(dialog)) window->colors[item] = rgb;
}

void OsInitProgressControls() {
  Record("InitProgressControls", nullptr, 0);
  fakeDialog.initialised++;
}

unsigned OsStartTimer(OsWindow dialog, unsigned id, unsigned periodMs) {
  Record("StartTimer", dialog, (int)id, "", periodMs);
  FakeDialogWindow *window = Find(dialog);
  if (window == nullptr) return 0;
  window->timers.insert(id);
  return id;
}

void OsStopTimer(OsWindow dialog, unsigned id) {
  Record("StopTimer", dialog, (int)id);
  if (FakeDialogWindow *window = Find(dialog)) window->timers.erase(id);
}

OsWindow OsGetParentOrDesktop(OsWindow window) {
  FakeDialogWindow *found = Find(window);
  return found != nullptr && found->owner != nullptr ? found->owner : nullptr;
}

int OsGetWindowRect(OsWindow window, OsRect *rect) {
  if (rect == nullptr) return 0;
  if (window == nullptr) {
    *rect = fakeDialog.desktop;
    return 1;
  }
  *rect = fakeDialog.dialogRect;
  return 1;
}

void OsMoveWindowTo(OsWindow window, int left, int top) { Record("MoveWindowTo", window, 0, "", left, top); }

void OsSendCommand(OsWindow dialog, int id) {
  Record("SendCommand", dialog, id);
  FakeDialogPress(dialog, id);
}

static void Serve(OsWindow dialog, int request, intptr_t value) {
  FakeDialogWindow *window = Find(dialog);
  if (window == nullptr || window->ended || window->logic == nullptr || window->logic->request == nullptr) return;
  // Served by the window's own thread while the sender waits.
  OsThread sender = FakeThreadSwitch(nullptr);
  window->logic->request(dialog, request, value);
  FakeThreadSwitch(sender);
}

void OsSendRequest(OsWindow dialog, int request, intptr_t value) {
  Record("SendRequest", dialog, request, "", value);
  Serve(dialog, request, value);
}

void OsPostRequest(OsWindow dialog, int request, intptr_t value) {
  Record("PostRequest", dialog, request, "", value);
  fakeDialog.posted.push_back(FakeDialogCall{"PostRequest", dialog, request, "", value, 0});
}

void FakeDialogPump() {
  for (;;) {
    if (!fakeDialog.posted.empty()) {
      FakeDialogCall post = fakeDialog.posted.front();
      fakeDialog.posted.erase(fakeDialog.posted.begin());
      Serve(post.window, post.item, (intptr_t)post.a);
      continue;
    }
    if (!FakeThreadRunOne()) return;
  }
}

void FakeDialogPress(OsWindow dialog, int id) {
  FakeDialogWindow *window = Find(dialog);
  if (window != nullptr && !window->ended && window->logic != nullptr && window->logic->command != nullptr)
    window->logic->command(dialog, id);
}

void FakeDialogFireTimer(OsWindow dialog, unsigned id) {
  FakeDialogWindow *window = Find(dialog);
  if (window != nullptr && !window->ended && window->timers.count(id) != 0 && window->logic != nullptr &&
      window->logic->timer != nullptr)
    window->logic->timer(dialog, id);
}

void FakeDialogType(OsWindow dialog, int item, const std::string &text) {
  if (FakeDialogWindow *window = Find(dialog)) window->items[item] = text;
}

OsWindow FakeDialogLast(int resource) {
  OsWindow last = nullptr;
  for (auto &entry : fakeDialog.windows)
    if (entry.second.resource == resource && (uintptr_t)entry.first > (uintptr_t)last) last = entry.first;
  return last;
}

std::vector<std::string> FakeDialogCallNames() {
  std::vector<std::string> names;
  for (const FakeDialogCall &call : fakeDialog.calls) names.push_back(call.name);
  return names;
}
