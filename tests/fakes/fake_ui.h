// Message boxes recorded, with scripted answers (OK when none is queued).
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "os/ui.h"

struct FakeMessageBox {
  OsWindow owner;
  std::string text;
  std::string caption;
  unsigned style;
};

struct FakeUi {
  std::vector<FakeMessageBox> shown;
  std::deque<int> answers;
};

extern FakeUi fakeUi;
void FakeUiReset();
