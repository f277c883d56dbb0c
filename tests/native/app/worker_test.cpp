// Whole update runs of the worker inside the progress dialog, against a
// module on a fake port: sends, restarts, waits, verification, failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/dialogs/message_request.h"
#include "app/dialogs/progress.h"
#include "app/run_record.h"
#include "app/worker.h"
#include "common/sha256.h"
#include "device/devices.h"
#include "device/simulator.h"
#include "device_open/device_open.h"
#include "fakes/fake_all.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_devenum.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_sync.h"
#include "fakes/fake_thread.h"
#include "fakes/fake_ui.h"
#include "log/upgrade_log.h"
#include "os/thread.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "support/worker_module.h"
#include "version_control/packages.h"

namespace {

void WriteBytes(const char *path, const std::string &bytes) {
  FILE *file = std::fopen(path, "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

enum { STATUS_LINE = 1004, PERCENT_BAR = 1002 };

const PackageEntry *runCatalogue;
int runCount;

unsigned RunOverCatalogue(void *) { return UpdateWorkerOver(&testRun, runCatalogue, runCount); }
unsigned RunBuiltIn(void *argument) { return UpdateWorker(argument); }

// A small image of its own length and digest, for catalogues of deltas.
struct TestImage {
  std::vector<unsigned char> bytes;
  unsigned char digest[SHA256_DIGEST_SIZE];
  explicit TestImage(size_t length, unsigned char fill) : bytes(length, fill) {
    Sha256Digest(bytes.data(), bytes.size(), digest);
  }
  PackageEntry Entry(const char *from, const char *to) const {
    return PackageEntry{from, to, bytes.data(), (uint32_t)bytes.size(), digest};
  }
};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.Enter());
    RunRecordReset(&testRun);  // a device another test left is not this one's to close
    Reset();
  }
  void TearDown() override { Release(); }
  // What a fresh test finds: the one way a table's rows start over.
  void Reset() {
    Release();
    ResetFakes();
    RunRecordReset(&testRun);
    UpgradeLogOpen("C:\\FWLog.txt");
    module = std::make_shared<WorkerModule>();
  }
  void Release() {
    DeviceClose(testRun.device);
    testRun.device = nullptr;
    fakeClock.onSleep = nullptr;
    ProgressWindow = nullptr;
    RunRecordReset(&testRun);
    UpgradeLogForget();
  }
  static void ResetFakes() {
    ResetAllFakes();
  }

  // Plugs the module, opens it as the main dialog would have, and runs the
  // worker in the progress dialog. Returns the dialog's end code.
  int Run(OsThreadProc procedure = RunBuiltIn) {
    PlugWorkerModule(module);
    testRun.device = SerialDeviceOpenAuto();
    EXPECT_NE(testRun.device, nullptr);
    return RunOnDevice(procedure);
  }
  int RunOnDevice(OsThreadProc procedure) {
    testRun.worker = OsThreadCreateSuspended(procedure, &testRun);
    int end = ProgressDialogRun(&testRun, nullptr);
    OsThreadClose(testRun.worker);
    testRun.worker = nullptr;
    return end;
  }

  std::vector<std::string> Boxes() const {
    std::vector<std::string> boxes;
    for (const FakeMessageBox &box : fakeUi.shown) boxes.push_back(box.caption + "|" + box.text);
    return boxes;
  }
  static std::vector<std::string> Statuses() {
    std::vector<std::string> lines;
    for (const FakeDialogCall &call : fakeDialog.calls)
      if (call.name == "SetItemText" && call.item == STATUS_LINE) lines.push_back(call.text);
    return lines;
  }
  static std::vector<int> Percents() {
    std::vector<int> percents;
    for (const FakeDialogCall &call : fakeDialog.calls)
      if (call.name == "SetBarPos" && call.item == PERCENT_BAR) percents.push_back((int)call.a);
    return percents;
  }
  static int Sleeps(int milliseconds) {
    int count = 0;
    for (int sleep : fakeClock.sleeps) count += sleep == milliseconds;
    return count;
  }
  static int Count(const std::vector<std::string> &commands, const std::string &command) {
    int count = 0;
    for (const std::string &c : commands) count += c == command;
    return count;
  }
  std::string Log() { return ReadBytes("C:\\FWLog.txt"); }
  // The restart commands the worker wrote, in order, whatever the device.
  static std::vector<std::string> RestartWrites() {
    std::vector<std::string> writes;
    for (const std::string &line : fakeDebugLines)
      for (const char *command : {"AT*Q2RESET", "AT+BACK"})
        if (line.find(std::string("INFO: Write [") + command + "]") != std::string::npos) writes.push_back(command);
    return writes;
  }

  // Every box went to the progress dialog as one request and was shown
  // while the dialog served it (the fakes fail a box raised off the
  // interface thread), over the progress dialog or over nothing.
  static void ExpectBoxesThroughTheDialog(bool ownedByProgress, unsigned style) {
    OsWindow dialog = FakeDialogLast(133);
    int requests = 0;
    for (const FakeDialogCall &call : fakeDialog.calls)
      requests += call.name == "SendRequest" && call.window == dialog && call.item == REQUEST_MESSAGE_BOX;
    EXPECT_EQ(requests, (int)fakeUi.shown.size());
    for (const FakeMessageBox &box : fakeUi.shown) {
      EXPECT_EQ(box.owner, ownedByProgress ? dialog : nullptr);
      EXPECT_EQ(box.style, style);
    }
  }

  TempFolder folder;
  std::shared_ptr<WorkerModule> module;
};

TEST_F(WorkerTest, SendsTheBuiltInPackageRestartsTwiceAndSeesTheNewFirmware) {
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(testRun.result, RESULT_SUCCESS);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Update successful|The update procedure has now completed successfully."});
  ExpectBoxesThroughTheDialog(true, OS_MB_OK);
  ASSERT_EQ(module->packages.size(), 2u);
  EXPECT_EQ(module->packages[0], PackageCatalogue[0].imageLength);
  EXPECT_EQ(module->packages[1], OptionalAssignmentImage.imageLength);
  EXPECT_EQ(module->restarts, 2);
  EXPECT_EQ(Count(module->commands, "AT+BACK"), 1);
  EXPECT_NE(Log().find("Quillon: Optional assignment 1 done\r\r\n"), std::string::npos);
  EXPECT_EQ(module->buildDate, "Build 2");
  // The full package's caption, then the stages of the restart and wait.
  OsWindow dialog = FakeDialogLast(133);
  EXPECT_EQ(fakeDialog.windows[dialog].caption, std::string("Update full package to ") + PackageCatalogue[0].toVersion);
  std::vector<std::string> statuses = Statuses();
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses[statuses.size() - 2], "Wait for the device to reboot\r\n");
  EXPECT_EQ(statuses.back(), "Wait for the device to update the firmware. This may take up to 10 min\r\n");
  EXPECT_EQ(Percents().back(), 100);
  // Five one-second polls across both waits (3 then 2).
  EXPECT_EQ(Sleeps(1000), 5);
}

TEST_F(WorkerTest, SendsAFileAndJudgesByTheBuildDateOnly) {
  WriteBytes("pkg.bin", std::string(20000, 'p'));
  testRun.packageFile = "pkg.bin";
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(testRun.result, RESULT_SUCCESS);
  ASSERT_FALSE(module->packages.empty());
  EXPECT_EQ(module->packages[0], 20000u);
  // One pass: the file, then the optional image after the first restart,
  // and one pair of restarts, the second after AT+BACK.
  EXPECT_EQ(module->packages.size(), 2u);
  EXPECT_EQ(module->restarts, 2);
  EXPECT_EQ(RestartWrites(), (std::vector<std::string>{"AT*Q2RESET", "AT+BACK", "AT*Q2RESET"}));
  EXPECT_EQ(Sleeps(1000), 5) << "one wait after each restart";
}

struct FailureRow {
  const char *name;
  void (*arrange)(WorkerModule &module);
  const char *file;  // file mode with this content, or built-in mode
  int code;
  std::string box;
  bool ownedByProgress;  // else the box has no owner
  unsigned style;
  int restarts;      // restart commands the module acted on; a failed send restarts once
};

void Nothing(WorkerModule &) {}

// Every failure ends the dialog with 2 and leaves its own code, not 1.
TEST_F(WorkerTest, EachFailureEndsWithItsBoxAndCode) {
  const FailureRow rows[] = {
      {"file refused", [](WorkerModule &m) { m.rejectChunk = 1; }, "1234", RESULT_UPDATE_FAILED,
       "Update Failed|The update procedure failed.\r\nPlease check that you have the right FW version for your module.", true, OS_MB_ICONWARNING, 1},
      {"missing file", Nothing, nullptr, RESULT_UPDATE_FAILED,
       "Update Failed|The update procedure failed.\r\nPlease check that you have the right FW version for your module.", true, OS_MB_ICONWARNING, 0},
      {"package refused at chunk 3", [](WorkerModule &m) { m.rejectChunk = 3; }, "", RESULT_UPDATE_FAILED,
       "Update Failed|Please check that you have the right update package.", true, OS_MB_ICONWARNING, 1},
      {"never back", [](WorkerModule &m) { m.backAfter = {-1}; }, "", RESULT_TIMEOUT,
       "ERROR|Timeout while waiting for device to update the firmware.\r\n", true, OS_MB_OK, 1},
      {"found on the 1020th poll", [](WorkerModule &m) { m.backAfter = {1020}; }, "", RESULT_TIMEOUT,
       "ERROR|Timeout while waiting for device to update the firmware.\r\n", true, OS_MB_OK, 1},
      {"budget shared: 1000 polls, then 20", [](WorkerModule &m) { m.backAfter = {1000, 21}; }, "", RESULT_TIMEOUT,
       "ERROR|Timeout while waiting for device to update the firmware.\r\n", true, OS_MB_OK, 2},
      {"restart ignored", [](WorkerModule &m) { m.ignoresRestart = true; }, "", RESULT_TIMEOUT,
       "ERROR|Timeout while waiting for device to update the firmware.\r\n", true, OS_MB_OK, 0},
      {"build date unchanged", [](WorkerModule &m) { m.changesBuildDate = false; }, "", RESULT_VERSION_UNCHANGED,
       "ERROR|The device was not updated.", true, OS_MB_OK, 2},
      {"stuck in its loader after the flash", [](WorkerModule &m) { m.blankAfterRestart = true; }, "", RESULT_VERSION_UNCHANGED,
       "ERROR|The device was not updated.", true, OS_MB_OK, 2},
  };
  for (const FailureRow &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    row.arrange(*module);
    if (row.file != nullptr && row.file[0] != '\0') {
      WriteBytes("pkg.bin", row.file);
      testRun.packageFile = "pkg.bin";
    } else if (row.file == nullptr) {
      testRun.packageFile = "no such file.bin";
    }
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(testRun.result, row.code);
    EXPECT_EQ(Boxes(), std::vector<std::string>{row.box});
    ExpectBoxesThroughTheDialog(row.ownedByProgress, row.style);
    EXPECT_EQ(module->restarts, row.restarts);
  }
}

struct RecoveryRow {
  const char *name;
  bool fileMode;    // F1, else F4
  int backAfter;    // polls until the port is back; -1 never
  bool loader;      // back in update mode, its firmware not starting
  int polls;        // one-second polls of the wait
  const char *trace;
};

// After a failed send the module is restarted once, out of the loader it
// may be left in, and given 120 polls of its own to come back; the run
// still ends with the send's failure, box and code, whatever it does.
TEST_F(WorkerTest, AFailedSendRestartsTheModuleOnceAndStillFails) {
  const char f1[] = "Update Failed|The update procedure failed.\r\nPlease check that you have the right FW version for your module.";
  const char f4[] = "Update Failed|Please check that you have the right update package.";
  const RecoveryRow rows[] = {
      {"F1, back in AT mode", /*fileMode=*/true, /*backAfter=*/3, /*loader=*/false, /*polls=*/3, "back in AT mode"},
      {"F1, back in update mode", /*fileMode=*/true, /*backAfter=*/2, /*loader=*/true, /*polls=*/2,
       "still in update mode"},
      {"F1, never back", /*fileMode=*/true, /*backAfter=*/-1, /*loader=*/false, /*polls=*/120, "not back"},
      {"F4, back in AT mode", /*fileMode=*/false, /*backAfter=*/3, /*loader=*/false, /*polls=*/3, "back in AT mode"},
      {"F4, back in update mode", /*fileMode=*/false, /*backAfter=*/2, /*loader=*/true, /*polls=*/2,
       "still in update mode"},
      {"F4, never back", /*fileMode=*/false, /*backAfter=*/-1, /*loader=*/false, /*polls=*/120, "not back"},
      {"F4, back on the 120th poll", /*fileMode=*/false, /*backAfter=*/120, /*loader=*/false, /*polls=*/120,
       "back in AT mode"},
  };
  for (const RecoveryRow &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    module->rejectChunk = 2;
    module->backAfter = {row.backAfter};
    module->loaderAfterRestart = row.loader;
    if (row.fileMode) {
      WriteBytes("pkg.bin", std::string(20000, 'p'));
      testRun.packageFile = "pkg.bin";
    }
    fakeDebugLines.clear();
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(testRun.result, RESULT_UPDATE_FAILED);
    EXPECT_EQ(Boxes(), std::vector<std::string>{row.fileMode ? f1 : f4});
    EXPECT_EQ(fakeUi.shown[0].owner, ProgressWindow);
    EXPECT_EQ(module->restarts, 1);
    EXPECT_EQ(Count(module->commands, "AT*Q2RESET"), 1) << "once, whatever it comes back as";
    EXPECT_EQ(Count(module->commands, "AT+BACK"), 0);
    EXPECT_EQ(Sleeps(1000), row.polls) << "a budget of its own, not the run's 1020";
    EXPECT_EQ(Count(module->commands, "AT*QVERS"), row.fileMode ? 2 : 3) << "nothing asked of the module that came back";
    bool traced = false;
    for (const std::string &line : fakeDebugLines)
      traced |= line.find(std::string("Module restarted after the failed update; ") + row.trace) != std::string::npos;
    EXPECT_TRUE(traced);
    // The reboot stage shows while the module restarts; nothing more is
    // logged than the run's own record.
    EXPECT_EQ(Statuses().back(), "Wait for the device to reboot\r\n");
    EXPECT_EQ(Log().find("Quillon:"), std::string::npos);
  }
}

// A package file that never reached the module leaves it untouched.
TEST_F(WorkerTest, NothingSentMeansNoRestart) {
  const char *const files[] = {"no such file.bin", "."};
  for (const char *file : files) {
    SCOPED_TRACE(file);
    Reset();
    testRun.packageFile = file;
    EXPECT_EQ(Run(), 2);
    EXPECT_EQ(testRun.result, RESULT_UPDATE_FAILED);
    EXPECT_EQ(Count(module->commands, "AT*Q2RESET"), 0);
    EXPECT_EQ(Count(module->commands, "AT*QESFUD=3"), 0);
  }
}

TEST_F(WorkerTest, PollsAreCountedAndBoundedInVirtualTime) {
  module->backAfter = {-1};
  EXPECT_EQ(Run(), 2);
  EXPECT_EQ(Sleeps(1000), 1020);
  std::vector<int> percents = Percents();
  // 0 at stage 4 and 5, then one per poll from 0/1020 to 1019/1020, then 100.
  ASSERT_GE(percents.size(), 1020u);
  EXPECT_EQ(percents[percents.size() - 2], 1019 * 100 / 1020);
  EXPECT_EQ(percents.back(), 100);
}

TEST_F(WorkerTest, APortThatStaysIsGivenUpAfterTwoMinutes) {
  module->ignoresRestart = true;
  uint32_t start = fakeClock.tick;
  EXPECT_EQ(Run(), 2);
  uint32_t elapsed = fakeClock.tick - start;
  EXPECT_GE(elapsed, 120000u);
  EXPECT_LT(elapsed, 130000u + 10u * 60000u) << "bounded, whatever the identification and send took";
  EXPECT_EQ(Sleeps(1000), 0) << "no reopen of a port that never went away";
}

TEST_F(WorkerTest, AModuleAlreadyOnTheTargetIsReinstalledWithoutANewBuildDate) {
  module->version = PackageCatalogue[0].toVersion;
  module->changesBuildDate = false;
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(testRun.result, RESULT_SUCCESS);
}

TEST_F(WorkerTest, ADamagedImageSendsNothing) {
  TestImage image(100, 0x11);
  PackageEntry entry = image.Entry("", "R9Z");
  image.bytes[50] ^= 1;
  runCatalogue = &entry;
  runCount = 1;
  EXPECT_EQ(Run(RunOverCatalogue), 2);
  EXPECT_EQ(testRun.result, RESULT_UPDATE_FAILED);
  EXPECT_EQ(Count(module->commands, "AT*QESFUD=3"), 0);
  EXPECT_EQ(Count(module->commands, "AT*Q2RESET"), 0) << "nothing reached the module: no restart";
  EXPECT_TRUE(module->packages.empty());
}

struct ChainRow {
  const char *name;
  std::map<uint32_t, std::string> installs;  // by package length
  int code;
  int passes;  // packages of the chain the module received
  bool blankAfterRestart = false;  // answers no identification once restarted
  const char *buildDate = "Jan 5 2009";  // what it reports throughout
};

// A chain of deltas takes a pass per delta; the chain ends when no later
// entry applies, and the same entry twice means nothing changed.
TEST_F(WorkerTest, DeltaChains) {
  TestImage a(100, 1), b(200, 2), c(300, 3);
  const PackageEntry chain[] = {a.Entry("R1D05", "R1D06"), b.Entry("R1D06", "R1D07"), c.Entry("R1D07", "R1D08")};
  const ChainRow rows[] = {
      {"three deltas", {{100, "R1D06"}, {200, "R1D07"}, {300, "R1D08"}}, RESULT_SUCCESS, 3},
      {"the second delta does not take", {{100, "R1D06"}}, RESULT_VERSION_UNCHANGED, 2},
      // The chain's end has no build date to compare: only a module that
      // does not say who it is, or names no version, was not updated.
      {"back unidentified after the first delta", {{100, "R1D06"}}, RESULT_VERSION_UNCHANGED, 1, true},
      {"a module that reports no build date", {{100, "R1D06"}, {200, "R1D07"}, {300, "R1D08"}}, RESULT_SUCCESS, 3, false, ""},
      {"back on an earlier version", {{100, "R1D06"}, {200, "R1D05"}}, RESULT_SUCCESS, 2},
  };
  for (const ChainRow &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    module->installs = row.installs;
    module->changesBuildDate = false;
    module->blankAfterRestart = row.blankAfterRestart;
    module->buildDate = row.buildDate;
    runCatalogue = chain;
    runCount = 3;
    EXPECT_EQ(Run(RunOverCatalogue), row.code == RESULT_SUCCESS ? PROGRESS_SUCCESS : PROGRESS_FAILURE);
    EXPECT_EQ(testRun.result, row.code);
    std::vector<uint32_t> deltas;
    for (uint32_t length : module->packages)
      if (length != OptionalAssignmentImage.imageLength) deltas.push_back(length);
    EXPECT_EQ((int)deltas.size(), row.passes);
  }
  OsWindow dialog = FakeDialogLast(133);
  EXPECT_EQ(fakeDialog.windows[dialog].caption, "Upgrade package from R1D06 to R1D07, (1 of 3 deltas)");
}

TEST_F(WorkerTest, NoUpgradePathSendsNothing) {
  TestImage a(100, 1);
  const PackageEntry chain[] = {a.Entry("R0A01", "R0A02")};
  runCatalogue = chain;
  runCount = 1;
  EXPECT_EQ(Run(RunOverCatalogue), 2);
  EXPECT_EQ(testRun.result, RESULT_UPGRADE_PATH_ERROR);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"ERROR|No upgrade path found for this version."});
  ExpectBoxesThroughTheDialog(false, OS_MB_ICONWARNING);
  EXPECT_TRUE(module->packages.empty());
}

// The chain found the entry it had just sent: nothing changed. The box
// has no owner, as the description's table says.
TEST_F(WorkerTest, TheSamePackageTwiceIsReportedOverNoWindow) {
  TestImage a(100, 1), b(200, 2);
  const PackageEntry chain[] = {a.Entry("R1D05", "R1D06"), b.Entry("R1D06", "R1D07")};
  module->installs = {{100, "R1D06"}};
  module->changesBuildDate = false;
  runCatalogue = chain;
  runCount = 2;
  EXPECT_EQ(Run(RunOverCatalogue), 2);
  EXPECT_EQ(testRun.result, RESULT_VERSION_UNCHANGED);
  EXPECT_EQ(Boxes(), std::vector<std::string>{"ERROR|FW version did not change after update."});
  ExpectBoxesThroughTheDialog(false, OS_MB_ICONWARNING);
}

// The simulated module has no port to lose: nothing is read, closed or
// reopened, and both restart pairs still go out.
TEST_F(WorkerTest, TheSimulatedModuleIsRestartedWithoutWaiting) {
  ASSERT_EQ(SerialDeviceOpen(&testRun.device, "SIMULATOR", 9600), 0);
  // The simulated module reports no build date, so nothing shows that its
  // firmware changed: the run cannot count as a success.
  EXPECT_EQ(RunOnDevice(RunBuiltIn), 2);
  EXPECT_EQ(testRun.result, RESULT_VERSION_UNCHANGED);
  EXPECT_EQ(Sleeps(1000), 0);
  EXPECT_EQ(Sleeps(100), 0);
  EXPECT_EQ(DeviceGetKind(testRun.device), DEVICE_KIND_SIMULATOR);
  EXPECT_EQ(RestartWrites(), (std::vector<std::string>{"AT*Q2RESET", "AT+BACK", "AT*Q2RESET"}))
      << "both restarts, the second after AT+BACK";
  // It takes one package only, so the optional image fails; either way
  // the run goes on and says so.
  EXPECT_NE(Log().find("Quillon: Optional assignment 1 failed"), std::string::npos);
}

}  // namespace
