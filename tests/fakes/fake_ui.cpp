// Message boxes recorded, with scripted answers.
#include "fakes/fake_ui.h"

#include <gtest/gtest.h>

#include "fakes/fake_debug_output.h"
#include "fakes/fake_thread.h"

FakeUi fakeUi;

void FakeUiReset() { fakeUi = FakeUi{}; }

int OsMessageBox(OsWindow owner, const char *text, const char *caption, unsigned style) {
  // A box belongs to the thread that owns its owner: the interface thread.
  if (FakeThreadCurrent() != nullptr) ADD_FAILURE() << "a message box raised off the interface thread: " << caption;
  fakeUi.shown.push_back(FakeMessageBox{owner, text ? text : "", caption ? caption : "", style,
                                         fakeDebugLines.size()});
  if (fakeUi.answers.empty()) return OS_IDOK;
  int answer = fakeUi.answers.front();
  fakeUi.answers.pop_front();
  return answer;
}
