// Dialogs without windows: every seam call recorded, control texts kept,
// and a script per resource that plays the user while a dialog runs.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "os/dialog.h"

struct FakeDialogCall {
  std::string name;   // the seam call without "Os": "SetItemText", "DialogEnd", ...
  OsWindow window;
  int item;           // control id, timer id, request, command or resource
  std::string text;   // the text set
  int64_t a, b;       // the numbers passed (range, position, colour, code, ...)
};

struct FakeDialogWindow {
  int resource;
  OsWindow owner;
  const OsDialogLogic *logic;
  bool ended;
  int endCode;
  std::string caption;
  std::map<int, std::string> items;        // control texts
  std::map<int, std::pair<int, int>> ranges;
  std::map<int, int> positions;
  std::map<int, uint32_t> colors;
  std::set<unsigned> timers;               // running
  std::set<int> disabled;                  // controls greyed out
  int focus;                               // the control with the keyboard focus, 0 none; a script may move it
};

// Plays the user of a dialog after its init: presses buttons with
// FakeDialogPress, fires timers, reads texts. The dialog ends when the
// logic calls OsDialogEnd; one the script leaves open ends with -2, which
// no real dialog gives, so a test sees it.
using FakeDialogUser = std::function<void(OsWindow dialog)>;

struct FakeDialog {
  std::vector<FakeDialogCall> calls;
  std::vector<FakeDialogCall> posted;      // requests queued, not yet served
  std::map<OsWindow, FakeDialogWindow> windows;
  std::map<int, FakeDialogUser> users;     // by resource
  std::set<int> failCreate;                // resources whose creation fails
  std::map<int, std::string> presetTexts;  // item texts a new dialog starts with
  OsRect desktop{0, 0, 1024, 768};
  OsRect dialogRect{0, 0, 400, 300};       // every dialog's size before it moves
  int initialised;                          // OsInitProgressControls calls
  uintptr_t nextWindow;
};

extern FakeDialog fakeDialog;
void FakeDialogReset();

// One turn of the interface thread's loop until nothing is left: posted
// requests are served and resumed threads run, in the order they became
// due. Every dialog's modal loop does this after its init and after its
// user's script; a script calls it to let the dialog catch up.
void FakeDialogPump();

// As a user would: the command reaches the logic of a running dialog.
// A greyed-out control still delivers it, as Escape and the close box do
// for a greyed-out Cancel: the logic must refuse it.
void FakeDialogPress(OsWindow dialog, int id);
void FakeDialogFireTimer(OsWindow dialog, unsigned id);
// The typed text of a control, as a user would leave it.
void FakeDialogType(OsWindow dialog, int item, const std::string &text);
// The one window of a resource that was run, nullptr when none was.
OsWindow FakeDialogLast(int resource);
// The names of the calls made, in order, for asserting on sequences.
std::vector<std::string> FakeDialogCallNames();
