// Message boxes recorded, with scripted answers (OK when none is queued).
#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "os/ui.h"

struct FakeMessageBox {
  OsWindow owner;
  std::string text;
  std::string caption;
  unsigned style;
  size_t traceLinesOut;  // what the debugger output had seen when it was shown
};

struct FakeUi {
  std::vector<FakeMessageBox> shown;
  std::deque<int> answers;
};

extern FakeUi fakeUi;
void FakeUiReset();
