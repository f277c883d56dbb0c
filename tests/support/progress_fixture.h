// The progress dialog run on the fakes: a stand-in worker runs in place
// when the dialog resumes it, and what reached the dialog reads as text.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs/progress.h"
#include "app/run_record.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_power.h"
#include "fakes/fake_thread.h"
#include "fakes/fake_ui.h"
#include "resource.h"
#include "support/test_run.h"

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override { StartOver(); }
  void TearDown() override {
    OsThreadClose(testRun.worker);
    RunRecordReset(&testRun);
    ProgressWindow = nullptr;
  }

  // Every fake and the process state as at start; for each row of a table.
  void StartOver() {
    OsThreadClose(testRun.worker);
    FakeDialogReset();
    FakePowerReset();
    FakeThreadReset();
    FakeClockReset();
    FakeUiReset();
    fakeDebugLines.clear();
    RunRecordReset(&testRun);
    ResetProgressSamples();
    ProgressWindow = nullptr;
  }

  // Runs dialog 133 with `worker` as the update worker's body.
  int Run(std::function<void()> worker, OsWindow owner = nullptr) {
    body = std::move(worker);
    testRun.worker = OsThreadCreateSuspended(RunBody, &body);
    return ProgressDialogRun(&testRun, owner);
  }

  // Index of the next call the fakes will record: what follows it is what
  // a step did.
  static size_t Mark() { return fakeDialog.calls.size(); }

  // The calls from `from` on, each as one line of its name and what
  // matters of its arguments.
  static std::vector<std::string> CallsSince(size_t from) {
    std::vector<std::string> lines;
    for (size_t i = from; i < fakeDialog.calls.size(); i++) lines.push_back(Describe(fakeDialog.calls[i]));
    return lines;
  }

  // What the user sees change, from `from` on: the requests that carried
  // it are left out.
  static std::vector<std::string> ScreenSince(size_t from) {
    std::vector<std::string> lines;
    for (size_t i = from; i < fakeDialog.calls.size(); i++) {
      const FakeDialogCall &call = fakeDialog.calls[i];
      if (call.name == "SetItemText" && call.item == IDC_STATUS) lines.push_back("status " + call.text);
      if (call.name == "SetItemText" && call.item == IDC_PERCENT_TEXT) lines.push_back("percent text " + call.text);
      if (call.name == "SetBarPos" && call.item == IDC_PERCENT_BAR)
        lines.push_back("percent bar " + std::to_string(call.a));
      if (call.name == "SetBarPos" && call.item == IDC_STAGE_BAR) lines.push_back("stage " + std::to_string(call.a));
      if (call.name == "SetCaption") lines.push_back("title " + call.text);
    }
    return lines;
  }

  static std::string Describe(const FakeDialogCall &call) {
    char numbers[64];
    if (call.name == "SetExecutionState") {
      std::snprintf(numbers, sizeof numbers, " %#llx", (unsigned long long)call.a);
      return call.name + numbers;
    }
    if (call.name == "SetBarRange") {
      std::snprintf(numbers, sizeof numbers, " %d %lld..%lld", call.item, (long long)call.a, (long long)call.b);
      return call.name + numbers;
    }
    if (call.name == "SetBarColor") {
      std::snprintf(numbers, sizeof numbers, " %d %06llx", call.item, (unsigned long long)call.a);
      return call.name + numbers;
    }
    if (call.name == "SetBarPos") {
      std::snprintf(numbers, sizeof numbers, " %d %lld", call.item, (long long)call.a);
      return call.name + numbers;
    }
    if (call.name == "DialogEnd") return call.name + " " + std::to_string(call.a);
    if (call.name == "SetItemText" || call.name == "DialogRun")
      return call.name + " " + std::to_string(call.item) + (call.text.empty() ? "" : " " + call.text);
    return call.name + (call.text.empty() ? "" : " " + call.text);
  }

 private:
  static unsigned RunBody(void *body) {
    (*(std::function<void()> *)body)();
    return 0;
  }

  std::function<void()> body;
};
