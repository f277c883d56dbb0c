// The power rule through the entry, in both modes: a flash is never
// started on a battery too low to finish it, and every other reading
// lets the run go on as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "app/dialogs/progress.h"
#include "app/entry.h"
#include "fakes/fake_all.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_power.h"
#include "fakes/fake_ui.h"
#include "log/upgrade_log.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "support/worker_module.h"
#include "version_control/packages.h"

namespace {

enum { MAIN = 104 };

// What GetSystemPowerStatus says, and whether the rule refuses it.
struct PowerRow {
  const char *name;
  uint8_t acLineStatus;
  uint8_t batteryFlag;
  uint8_t batteryLifePercent;
  bool readingFails;
  bool refuses;
};

const PowerRow powerRows[] = {
    {"on AC at 5 %", /*ac=*/1, /*flag=*/4 | 8, /*percent=*/5, /*fails=*/false, /*refuses=*/false},
    {"on battery at 5 %", 0, 4, 5, false, true},
    {"on battery at 24 %", 0, 2, 24, false, true},
    {"on battery at 25 %", 0, 0, 25, false, false},
    {"on battery at 100 %", 0, 1, 100, false, false},
    {"on battery, charge unknown", 0, 255, 255, false, false},
    {"on battery at 5 %, charging", 0, 4 | 8, 5, false, true},
    {"on battery, critical, charge unknown", 0, 4, 255, false, true},
    {"on AC, critical, charge unknown", 1, 4, 255, false, false},
    // Windows cannot tell the AC status: the battery decides, and a low
    // battery that is not charging is no proof of the adapter.
    {"AC unknown at 5 %", 255, 4, 5, false, true},
    {"AC unknown at 24 %, flag unknown", 255, 255, 24, false, true},
    {"AC unknown at 5 %, charging", 255, 4 | 8, 5, false, false},
    {"AC unknown at 25 %", 255, 0, 25, false, false},
    {"AC unknown, critical, charge unknown", 255, 4, 255, false, true},
    {"AC unknown, nothing known", 255, 255, 255, false, false},
    {"no system battery", 0, 128, 5, false, false},
    {"no system battery, critical flag", 0, 128 | 4, 255, false, false},
    {"the reading fails", 0, 4, 5, true, false},
};

const char refusal[] =
    "The laptop is running on its battery, which is at %d %%. Connect the AC adapter, then press OK again.";

// The charge when the battery gives one (0-100); otherwise its critical
// flag spoke.
std::string RefusalText(int percent) {
  if (percent > 100)
    return "The laptop is running on its battery, which is almost empty. Connect the AC adapter, then press OK "
           "again.";
  char text[200];
  std::snprintf(text, sizeof text, refusal, percent);
  return text;
}

// Nothing of an update reached the module: no switch to its update mode,
// no restart, no package.
void ExpectNothingSent(const WorkerModule &module) {
  for (const std::string &command : module.commands) {
    EXPECT_NE(command, "ATE0");
    EXPECT_NE(command.rfind("AT*QESFUD=", 0), 0u) << command;
    EXPECT_NE(command, "AT*Q2RESET");
  }
  EXPECT_TRUE(module.packages.empty());
  EXPECT_EQ(module.restarts, 0);
}

class PowerCheckTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder.Enter()); }
  void TearDown() override { Reset(); }
  // Each row runs the entry afresh, with the module it updates.
  void Reset(const PowerRow *row = nullptr) {
    FakeClockReset();
    fakeClock.onSleep = nullptr;
    ResetAllFakes();
    ProgressWindow = nullptr;
    RunRecordReset(&testRun);
    std::remove("C:\\FWLog.txt");
    if (row == nullptr) return;
    fakePower.status = OsPowerStatus{row->acLineStatus, row->batteryFlag, row->batteryLifePercent};
    fakePower.statusFails = row->readingFails;
    module = std::make_shared<WorkerModule>();
    module->installs[PackageCatalogue[0].imageLength] = "R1D06";
    PlugWorkerModule(module);
  }
  static std::string Log() { return ReadBytes("C:\\FWLog.txt"); }
  static size_t Count(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
    return count;
  }

  TempFolder folder;
  std::shared_ptr<WorkerModule> module;
};

TEST_F(PowerCheckTest, AQuietRunOnALowBatteryEndsWithNineAndSendsNothing) {
  for (const PowerRow &row : powerRows) {
    SCOPED_TRACE(row.name);
    Reset(&row);
    int code = QuillonRun(&testRun, "-q");
    EXPECT_TRUE(fakeUi.shown.empty()) << "quiet runs show no box";
    EXPECT_GE(fakePower.statusReads, 1);
    const std::string log = Log();
    EXPECT_EQ(Count(log, "RESULT ("), 1u);
    // The hand-off gives the module back on every path.
    EXPECT_EQ(Count(log, "Done CONNECT_KVT\r\r\n"), 1u);
    if (row.refuses) {
      EXPECT_EQ(code, RESULT_BATTERY_LOW);
      EXPECT_NE(log.find("QuillonDlg OK Pressed\r\r\nSend CONNECT_KVT\r\r\nDone CONNECT_KVT\r\r\n\r\r\n"
                         "RESULT (9): Battery low\r\r\n"),
                std::string::npos)
          << log;
      ExpectNothingSent(*module);
    } else {
      EXPECT_EQ(code, RESULT_SUCCESS);
      EXPECT_NE(log.find("RESULT (0): Upgrade finishied succesfully\r\r\n"), std::string::npos);
      EXPECT_EQ(module->version, "R1D06");
    }
  }
}

// Refused, the box says why and the dialog stays open with its poll
// stopped, as after a declined warning; plugged in, OK again updates.
TEST_F(PowerCheckTest, AnInteractiveRunOnALowBatteryAsksForTheAdapterAndRunsOnTheNextOk) {
  for (const PowerRow &row : powerRows) {
    SCOPED_TRACE(row.name);
    Reset(&row);
    OsWindow main = nullptr;
    bool openAfterFirstOk = false;
    std::string logAfterFirstOk;
    fakeDialog.users[MAIN] = [&](OsWindow dialog) {
      main = dialog;
      FakeDialogPress(dialog, OS_IDOK);
      FakeDialogPump();
      openAfterFirstOk = !fakeDialog.windows[dialog].ended;
      if (!openAfterFirstOk) return;
      logAfterFirstOk = Log();
      ExpectNothingSent(*module);
      EXPECT_TRUE(fakeDialog.windows[dialog].disabled.empty()) << "OK and Cancel are back";
      EXPECT_TRUE(fakeDialog.windows[dialog].timers.empty()) << "the poll stays stopped";
      fakePower.status.acLineStatus = 1;  // plugged in
      FakeDialogPress(dialog, OS_IDOK);
    };
    EXPECT_EQ(QuillonRun(&testRun, ""), RESULT_SUCCESS);
    EXPECT_EQ(module->version, "R1D06");
    EXPECT_EQ(openAfterFirstOk, row.refuses);
    ASSERT_GE(fakeUi.shown.size(), 2u);
    EXPECT_EQ(fakeUi.shown[0].caption, "Warning");
    if (row.refuses) {
      const FakeMessageBox &box = fakeUi.shown[1];
      EXPECT_EQ(box.owner, main);
      EXPECT_EQ(box.caption, "Warning");
      EXPECT_EQ(box.text, RefusalText(row.batteryLifePercent));
      EXPECT_EQ(box.style, (unsigned)(OS_MB_OK | OS_MB_ICONWARNING));
      EXPECT_EQ(logAfterFirstOk.find("RESULT ("), std::string::npos) << "no result before the run ends";
      EXPECT_EQ(Count(logAfterFirstOk, "QuillonDlg OK Pressed"), 1u);
      EXPECT_EQ(fakeUi.shown[2].caption, "Warning") << "the warning again, for the second OK";
    } else {
      EXPECT_NE(fakeUi.shown[1].caption, "Warning") << "no second warning";
    }
    EXPECT_EQ(Count(Log(), "RESULT ("), 1u);
    EXPECT_NE(Log().find("RESULT (0): Upgrade finishied succesfully"), std::string::npos);
  }
}

}  // namespace
