// The entry hands the module to and from the connection manager: release
// before the device opens, regain before the result record, each between
// its two upgrade-log lines, and neither when the command line ends the run.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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
#include "support/shared_texts.h"
#include "support/temp_files.h"
#include "support/test_run.h"

namespace {

const char folder[] = "C:\\Program Files\\Corvin\\";
const char release[] = "\"C:\\Program Files\\Corvin\\Corvin.KVT.Console.exe\" /releasewwan";
const char regain[] = "\"C:\\Program Files\\Corvin\\Corvin.KVT.Console.exe\" /regainwwan";

const std::string banner = "===FW upgrade started ===\r\r\n";
const std::string handOffLines[] = {"Send DISCONNECT_KVT\r\r\n", "Done DISCONNECT_KVT\r\r\n",
                                    "Send CONNECT_KVT\r\r\n", "Done CONNECT_KVT\r\r\n"};
// The user cancels the main dialog, which ends the run with code 1.
const std::string cancelLine = "QuillonDlg Cancel Pressed\r\r\n";
const std::string resultBlock = "\r\r\nRESULT (1): Unknown error\r\r\n\r\r\n=== FW Update finished ===\r\r\n\r\r\n";

// What the rest of the run had done when a console program was started.
struct Moment {
  std::string commandLine;
  std::string log;
  int devicesOpened;
  int devicesClosed;
};
std::vector<Moment> moments;

void RecordMoment(const FakeChildStart &start) {
  moments.push_back(Moment{start.commandLine, ReadBytes("C:\\FWLog.txt"), fakeSync.created, fakeSync.destroyed});
}

// Runs in a folder of its own: natively "C:\FWLog.txt" is a file name there.
class EntryHandOffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakes();
    RunRecordReset(&testRun);
    ASSERT_TRUE(scratch.Enter());
  }
  void TearDown() override {
    ResetFakes();
    RunRecordReset(&testRun);
  }
  static void ResetFakes() {
    ResetAllFakes();
    moments.clear();
    fakeDialog.users[104] = [](OsWindow dialog) { FakeDialogPress(dialog, OS_IDCANCEL); };
  }
  static void Install() {
    FakeRegistryAddKey(kvtKey).values.push_back({"InstalledPath", OS_REG_SZ, FakeRegText(folder)});
    fakeFileAttributes.files[std::string(folder) + "Corvin.KVT.Console.exe"] = 0x20;
    fakeChildProcess.onStart = RecordMoment;
  }
  static std::string Log() { return ReadBytes("C:\\FWLog.txt"); }
  static std::string FullLog() {
    return banner + handOffLines[0] + handOffLines[1] + cancelLine + handOffLines[2] + handOffLines[3] + resultBlock;
  }

  TempFolder scratch;
};

TEST_F(EntryHandOffTest, ReleasesBeforeTheDeviceOpensAndRegainsBeforeTheResult) {
  Install();
  EXPECT_EQ(QuillonRun(&testRun, "-t SIMULATOR"), 1);
  ASSERT_EQ(moments.size(), 2u);

  EXPECT_EQ(moments[0].commandLine, release);
  EXPECT_EQ(moments[0].log, banner + handOffLines[0]);
  EXPECT_EQ(moments[0].devicesOpened, 0) << "released only before the module is opened";

  EXPECT_EQ(moments[1].commandLine, regain);
  EXPECT_EQ(moments[1].log, banner + handOffLines[0] + handOffLines[1] + cancelLine + handOffLines[2])
      << "taken back once the main dialog has ended";
  EXPECT_EQ(moments[1].devicesOpened, 1);
  EXPECT_EQ(moments[1].devicesClosed, 0) << "given back while the device is still open";

  EXPECT_EQ(Log(), FullLog());
}

// Whatever the connection manager does, the run logs the same four lines
// and ends the same way; each hand-off is tried.
TEST_F(EntryHandOffTest, TheRunGoesOnWhateverTheHandOffMeets) {
  struct Row {
    const char *name;
    void (*arrange)();
    size_t starts;
  } rows[] = {
      {"no connection manager", [] {}, 0},
      {"console program missing",
       [] {
         Install();
         fakeFileAttributes.files.clear();
       },
       0},
      {"both starts refused",
       [] {
         Install();
         fakeChildProcess.startResults = {OS_ERROR_ACCESS_DENIED, OS_ERROR_ACCESS_DENIED};
       },
       2},
      {"release hangs",
       [] {
         Install();
         fakeChildProcess.waitResults = {OS_WAIT_TIMEOUT};
       },
       2},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    ResetFakes();
    RunRecordReset(&testRun);
    std::remove("C:\\FWLog.txt");
    row.arrange();
    EXPECT_EQ(QuillonRun(&testRun, "-t SIMULATOR"), 1);
    EXPECT_EQ(fakeChildProcess.starts.size(), row.starts);
    EXPECT_EQ(Log(), FullLog());
    EXPECT_TRUE(fakeChildProcess.open.empty());
    EXPECT_EQ(fakeSync.created, fakeSync.destroyed) << "the device is closed as ever";
  }
}

TEST_F(EntryHandOffTest, ACommandLineThatEndsTheRunHandsNothingOff) {
  const char *const lines[] = {"-h", "-q -t LPT1", "-q a.bin b.bin", "-q -x"};
  for (const char *line : lines) {
    SCOPED_TRACE(line);
    ResetFakes();
    RunRecordReset(&testRun);
    std::remove("C:\\FWLog.txt");
    Install();
    EXPECT_EQ(QuillonRun(&testRun, line), 1);
    EXPECT_TRUE(fakeRegistry.calls.empty()) << "the connection manager was looked for";
    EXPECT_TRUE(fakeChildProcess.starts.empty());
    EXPECT_EQ(Log(), banner);
  }
}

}  // namespace
