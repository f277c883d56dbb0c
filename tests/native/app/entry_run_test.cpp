// Whole runs through the entry against a module on a fake port: command
// line, main dialog, worker, result record and exit code, on the virtual
// clock.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/dialogs/progress.h"
#include "app/entry.h"
#include "app/run_record.h"
#include "device/simulator.h"
#include "fakes/fake_all.h"
#include "fakes/fake_child_process.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_devenum.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_file_attributes.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_sync.h"
#include "fakes/fake_thread.h"
#include "fakes/fake_ui.h"
#include "log/upgrade_log.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "support/worker_module.h"
#include "version_control/packages.h"

namespace {

// Runs in a folder of its own: natively "C:\FWLog.txt" is a file name there.
class EntryRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakes();
    ASSERT_TRUE(folder.Enter());
    module = std::make_shared<WorkerModule>();
  }
  void TearDown() override { ResetFakes(); }
  static void ResetFakes() {
    FakeClockReset();
    fakeClock.onSleep = nullptr;
    ResetAllFakes();
    ProgressWindow = nullptr;
    RunRecordReset(&testRun);
  }
  // The log without its one time line, which the local time decides.
  static std::string LogWithoutTime() {
    std::string log = ReadBytes("C:\\FWLog.txt");
    size_t time = log.find("Time: ");
    if (time == std::string::npos) return log;
    size_t end = log.find("\r\n", time);
    EXPECT_NE(end, std::string::npos);
    return log.erase(time, end + 2 - time);
  }
  static std::string Run(const std::string &middle, int code, const char *text) {
    return std::string("===FW upgrade started ===\r\r\nSend DISCONNECT_KVT\r\r\nDone DISCONNECT_KVT\r\r\n") + middle +
           "Send CONNECT_KVT\r\r\nDone CONNECT_KVT\r\r\n\r\r\nRESULT (" + std::to_string(code) + "): " + text +
           "\r\r\n\r\r\n=== FW Update finished ===\r\r\n\r\r\n";
  }

  TempFolder folder;
  std::shared_ptr<WorkerModule> module;
};

const char header[] =
    "Quillon: Quillon CXC 173 0961/1 R1A\r\r\nDriver version: \r\r\nDriver package version: \r\r\n"
    "FW version: R1D05 -> R1D06\r\r\nHW version: QHW 552 08/101 R1J\r\r\nQuillonDlg OK Pressed\r\r\n";

TEST_F(EntryRunTest, AQuietUpdateExitsWithZeroAndSaysSo) {
  module->installs[PackageCatalogue[0].imageLength] = "R1D06";
  PlugWorkerModule(module);
  EXPECT_EQ(QuillonRun(&testRun, "-q"), 0);
  EXPECT_EQ(LogWithoutTime(), Run(std::string(header) + "Quillon: Optional assignment 1 done\r\r\n", 0,
                                  "Upgrade finishied succesfully"));
  EXPECT_EQ(module->restarts, 2);
  EXPECT_EQ(module->version, "R1D06");
  EXPECT_TRUE(fakeUi.shown.empty());
  EXPECT_EQ(testRun.device, nullptr) << "closed at exit";
}

// The user confirms; the dialog ends with 1 and the run's code is the
// worker's alone: success stays 0, a failure keeps its own code.
TEST_F(EntryRunTest, TheWorkersCodeIsTheExitCode) {
  struct Row {
    const char *name;
    int rejectChunk;
    int code;
    const char *lastBox;
  } const rows[] = {
      {"updated", 0, 0, "Update successful"},
      {"a chunk refused", 3, 5, "Update Failed"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ResetFakes();
    std::remove("C:\\FWLog.txt");
    module = std::make_shared<WorkerModule>();
    module->rejectChunk = row.rejectChunk;
    PlugWorkerModule(module);
    fakeDialog.users[104] = [](OsWindow dialog) { FakeDialogPress(dialog, OS_IDOK); };
    EXPECT_EQ(QuillonRun(&testRun, ""), row.code);
    ASSERT_EQ(fakeUi.shown.size(), 2u);
    EXPECT_EQ(fakeUi.shown[0].caption, "Warning");
    EXPECT_EQ(fakeUi.shown[1].caption, row.lastBox);
    const std::string log = LogWithoutTime();
    EXPECT_NE(log.find(std::string(header)), std::string::npos);
    const std::string text = UpgradeLogResultText(row.code);
    EXPECT_NE(log.find("RESULT (" + std::to_string(row.code) + "): " + text.substr(0, text.size() - 2) + "\r\r\n"),
              std::string::npos);
  }
}

}  // namespace
