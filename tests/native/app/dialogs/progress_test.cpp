// The progress dialog: its creation and guards, the worker's output
// operations, and how the worker ends it.
#include <climits>
#include <string>
#include <vector>

#include "support/progress_fixture.h"
#include "support/trace_lines.h"

namespace {

using Lines = std::vector<std::string>;

const char reason[] = "Upgrading flash on wwan module. Please do not logout";

// Creation: the guards first, then the bars and stage 0, and only then the
// worker, whose first step already finds the dialog set up.
TEST_F(ProgressTest, CreationTakesTheGuardsSetsUpTheBarsAndThenStartsTheWorker) {
  size_t workerStart = 0;
  int code = Run([&] {
    workerStart = Mark();
    EndProgress(PROGRESS_SUCCESS);
  });

  EXPECT_EQ(code, 1);
  OsWindow dialog = FakeDialogLast(IDD_PROGRESS);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(ProgressWindow, dialog);
  // Only the orders that matter: the bar classes exist before the dialog,
  // the guards and the set-up bars come before the worker, and the guards
  // go before the dialog ends, last.
  const Lines calls = CallsSince(0);
  auto at = [&](const std::string &line) {
    for (size_t i = 0; i < calls.size(); i++)
      if (calls[i] == line) return i;
    ADD_FAILURE() << "no call " << line;
    return calls.size();
  };
  ASSERT_GT(workerStart, 0u);
  EXPECT_LT(at("InitProgressControls"), at("DialogRun 133"));
  for (const std::string &before : {std::string("BlockReasonCreate ") + reason,
                                    std::string("SetExecutionState 0x80000043"), std::string("SetBarRange 1005 0..6"),
                                    std::string("SetBarRange 1002 0..100"), std::string("SetBarColor 1002 00ff00"),
                                    std::string("SetItemText 1004 Connecting the device\r\n"),
                                    std::string("SetBarPos 1005 0")})
    EXPECT_LT(at(before), workerStart) << before << ": after the worker started";
  EXPECT_LT(at("BlockReasonDestroy"), at("DialogEnd 1"));
  EXPECT_LT(at("SetExecutionState 0x80000000"), at("DialogEnd 1"));
  EXPECT_EQ(calls.back(), "DialogEnd 1");
  // The block reason and its removal name the dialog's own window.
  for (const FakeDialogCall &call : fakeDialog.calls) {
    if (call.name == "BlockReasonCreate" || call.name == "BlockReasonDestroy") {
      EXPECT_EQ(call.window, dialog);
    }
  }
  EXPECT_EQ(fakePower.state, 0x80000000u);
  EXPECT_EQ(testRun.result, RESULT_SUCCESS);
}

struct OperationRow {
  const char *name;
  std::function<void()> operation;
  Lines screen;
};

TEST_F(ProgressTest, EachOperationShowsItsText) {
  const std::string longText(5000, 'x');
  const OperationRow rows[] = {
      {"stage 0", [] { SetStage(STAGE_CONNECT); }, {"status Connecting the device\r\n", "stage 0"}},
      {"stage 1", [] { SetStage(STAGE_INITIALIZE); }, {"status Initialize the device\r\n", "stage 1"}},
      {"stage 2", [] { SetStage(STAGE_SEND); }, {"status Send update package\r\n", "stage 2"}},
      {"stage 3", [] { SetStage(STAGE_SEND_DONE); }, {"status Send update package done\r\n", "stage 3"}},
      {"stage 4 resets the percent",
       [] { SetStage(STAGE_WAIT_REBOOT); },
       {"status Wait for the device to reboot\r\n", "percent bar 0", "percent text 0%", "stage 4"}},
      {"stage 5 resets the percent",
       [] { SetStage(STAGE_WAIT_UPDATE); },
       {"status Wait for the device to update the firmware. This may take up to 10 min\r\n", "percent bar 0",
        "percent text 0%", "stage 5"}},
      {"a stage without a text only moves the indicator", [] { SetStage((ProgressStage)6); }, {"stage 6"}},
      {"a negative stage too", [] { SetStage((ProgressStage)-1); }, {"stage -1"}},
      {"percent", [] { SetPercent(42); }, {"percent bar 42", "percent text 42%"}},
      {"percent at its extreme", [] { SetPercent(INT_MIN); },
       {"percent bar -2147483648", "percent text -2147483648%"}},
      {"status", [] { StatusPrintf("Send %s %d", "chunk", 7); }, {"status Send chunk 7"}},
      {"title", [] { TitlePrintf("Update full package to %s", "R1D07"); }, {"title Update full package to R1D07"}},
      {"a long status is cut to 4095 characters",
       [&] { StatusPrintf("%s", longText.c_str()); },
       {"status " + longText.substr(0, 4095)}},
      {"a long title too", [&] { TitlePrintf("%s", longText.c_str()); }, {"title " + longText.substr(0, 4095)}},
  };
  for (const OperationRow &row : rows) {
    SCOPED_TRACE(row.name);
    StartOver();
    size_t from = 0;
    Lines screen;
    Run([&] {
      from = Mark();
      row.operation();
      screen = ScreenSince(from);
      EndProgress(PROGRESS_SUCCESS);
    });
    EXPECT_EQ(screen, row.screen);
  }
}

// Each output operation, and the worker's end, reach the dialog as
// requests, so nothing happens on the worker's own thread: a window that
// serves no requests sees nothing done, and no code is recorded.
TEST_F(ProgressTest, OperationsActOnlyThroughTheDialogsRequests) {
  ProgressWindow = (OsWindow)0x999;  // no dialog of the fake answers it
  SetStage(STAGE_WAIT_REBOOT);
  SetPercent(42);
  StatusPrintf("status");
  TitlePrintf("title");
  EndProgress(PROGRESS_FAILURE);
  ASSERT_FALSE(fakeDialog.calls.empty());
  for (const FakeDialogCall &call : fakeDialog.calls) EXPECT_EQ(call.name, "SendRequest");
  EXPECT_EQ(testRun.result, RESULT_SUCCESS);
  EXPECT_EQ(fakePower.state, 0u);
}

TEST_F(ProgressTest, OperationsDoNothingWithoutADialog) {
  SFProgressPair pair = {8192, 16384};
  SetStage(STAGE_WAIT_UPDATE);
  SetPercent(42);
  StatusPrintf("status");
  TitlePrintf("title");
  OnProgress(SF_EVENT_LINK_STEP_0, nullptr);
  OnProgress(SF_EVENT_TRANSFER, nullptr);
  OnProgress(SF_EVENT_TRANSFER, &pair);
  fakeClock.tick += 100;
  pair.acknowledged = 12000;
  OnProgress(SF_EVENT_TRANSFER, &pair);
  EndProgress(PROGRESS_FAILURE);
  EXPECT_TRUE(fakeDialog.calls.empty());
  EXPECT_EQ(testRun.result, RESULT_SUCCESS);
}

struct EndRow {
  const char *name;
  int earlierCode;  // recorded by the worker before it ends the dialog
  ProgressEnd endCode;
  int result;
};

// The end on the interface thread, in one request: the block reason goes,
// the system may sleep again, a failure leaves a code, the dialog ends.
TEST_F(ProgressTest, EndProgressReleasesTheGuardsAndEndsTheDialogInOneRequest) {
  const EndRow rows[] = {
      {"success leaves the code alone", RESULT_SUCCESS, PROGRESS_SUCCESS, RESULT_SUCCESS},
      {"failure records 1", RESULT_SUCCESS, PROGRESS_FAILURE, RESULT_UNKNOWN_ERROR},
      {"failure keeps the worker's own code", RESULT_UPDATE_FAILED, PROGRESS_FAILURE, RESULT_UPDATE_FAILED},
  };
  for (const EndRow &row : rows) {
    SCOPED_TRACE(row.name);
    StartOver();
    size_t from = 0;
    int code = Run([&] {
      RunSetResult(&testRun, row.earlierCode);
      from = Mark();
      EndProgress(row.endCode);
    });
    EXPECT_EQ(code, row.endCode);
    // The request that carries the end is the fake's business; what it does, in order, is not.
    Lines done;
    for (const std::string &line : CallsSince(from))
      if (line != "SendRequest") done.push_back(line);
    EXPECT_EQ(done, (Lines{"BlockReasonDestroy", "SetExecutionState 0x80000000",
                           "DialogEnd " + std::to_string(row.endCode)}));
    EXPECT_EQ(testRun.result, row.result);
  }
}

struct BlockReasonRow {
  const char *name;
  bool lacksCreate, lacksDestroy;
  Lines guards;  // the power calls of one run, in order
};

// Without the block-reason functions the execution state and the message
// answers still hold the machine.
TEST_F(ProgressTest, SystemsWithoutBlockReasonsStillKeepTheMachineAwake) {
  const BlockReasonRow rows[] = {
      {"neither", true, true, {"SetExecutionState 0x80000043", "SetExecutionState 0x80000000"}},
      {"no remover",
       false,
       true,
       {std::string("BlockReasonCreate ") + reason, "SetExecutionState 0x80000043", "SetExecutionState 0x80000000"}},
  };
  for (const BlockReasonRow &row : rows) {
    SCOPED_TRACE(row.name);
    StartOver();
    fakePower.lacksCreate = row.lacksCreate;
    fakePower.lacksDestroy = row.lacksDestroy;
    EXPECT_EQ(Run([] { EndProgress(PROGRESS_FAILURE); }), PROGRESS_FAILURE);
    Lines guards;
    for (const std::string &line : CallsSince(0))
      if (line.rfind("BlockReason", 0) == 0 || line.rfind("SetExecutionState", 0) == 0) guards.push_back(line);
    EXPECT_EQ(guards, row.guards);
    EXPECT_EQ(testRun.result, RESULT_UNKNOWN_ERROR);
  }
}

// As written, a dialog whose worker never runs waits for an end that never
// comes, with shutdown refused: it ends itself instead, and says the worker
// never started, so that nobody waits for it.
TEST_F(ProgressTest, DialogWithoutAWorkerSaysTheWorkerNeverStarted) {
  for (bool noThread : {true, false}) {
    SCOPED_TRACE(noThread ? "no thread" : "a thread that cannot be resumed");
    StartOver();
    testRun.worker = noThread ? nullptr : OsThreadCreateSuspended([](void *) -> unsigned { return 0; }, nullptr);
    fakeThread.failResume = 1;
    EXPECT_EQ(ProgressDialogRun(&testRun, nullptr), PROGRESS_WORKER_NOT_STARTED);
    EXPECT_EQ(testRun.result, RESULT_SUCCESS) << "the caller names the run's code";
    Lines calls = CallsSince(0);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(Lines(calls.end() - 3, calls.end()),
              (Lines{"BlockReasonDestroy", "SetExecutionState 0x80000000", "DialogEnd 3"}));
    EXPECT_EQ(Messages("WARNING"), Lines{"The update worker could not be started\r\n"});
  }
}

TEST_F(ProgressTest, DialogThatCannotBeCreatedTakesNoGuards) {
  fakeDialog.failCreate.insert(IDD_PROGRESS);
  EXPECT_EQ(Run([] { EndProgress(PROGRESS_SUCCESS); }), -1);
  EXPECT_EQ(CallsSince(0), (Lines{"InitProgressControls", "DialogRun 133"}));
  EXPECT_EQ(ProgressWindow, nullptr);
  EXPECT_EQ(fakeThread.resumed, 0);
}

TEST_F(ProgressTest, UnattendedRunHasNoOwner) {
  const struct {
    const char *name;
    int quiet;
    OsWindow owner;
  } rows[] = {
      {"interactive: owned by the caller", 0, (OsWindow)0x77},
      {"quiet: no owner", 1, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    StartOver();
    testRun.quiet = row.quiet;
    Run([] { EndProgress(PROGRESS_SUCCESS); }, (OsWindow)0x77);
    EXPECT_EQ(fakeDialog.windows[FakeDialogLast(IDD_PROGRESS)].owner, row.owner);
  }
}

// The close box and Escape arrive as IDCANCEL: the dialog stays, and the
// window refuses logoff, shutdown and suspend while it is open.
TEST_F(ProgressTest, UserCannotCloseTheDialog) {
  bool openAfterCancel = false;
  int code = Run([&] {
    OsWindow dialog = FakeDialogLast(IDD_PROGRESS);
    FakeDialogPress(dialog, OS_IDCANCEL);
    openAfterCancel = !fakeDialog.windows[dialog].ended;
    EndProgress(PROGRESS_SUCCESS);
  });
  EXPECT_TRUE(openAfterCancel);
  EXPECT_EQ(code, 1);
  EXPECT_NE(fakeDialog.windows[FakeDialogLast(IDD_PROGRESS)].logic->refusesSessionEnd, 0);
}

}  // namespace
