// The entry's reading of the command line: effects, boxes and exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/run_record.h"
#include "device/simulator.h"
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
#include "support/shared_texts.h"
#include "support/temp_files.h"
#include "support/test_run.h"

namespace {

const char usage[] = "usage: Quillon.exe [filename] [-t COM1]\n";

// Runs in a folder of its own: natively "C:\FWLog.txt" is a file name there.
class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakes();
    ASSERT_TRUE(folder.Enter());
  }
  void TearDown() override { ResetFakes(); }
  // No module anywhere unless a test puts one there.
  static void ResetFakes() {
    ResetAllFakes();
    RunRecordReset(&testRun);
  }
  std::string Log() { return ReadBytes("C:\\FWLog.txt"); }
  std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const FakeMessageBox &box : fakeUi.shown) boxes.push_back(box.caption + "|" + box.text);
    return boxes;
  }

  TempFolder folder;
};

struct ExitRow {
  const char *name;
  const char *line;
  std::vector<std::string> boxes;
};

// Every early exit: code 1, the boxes in order, and only the banner logged.
TEST_F(EntryTest, EndsEarlyWithCodeOne) {
  const ExitRow rows[] = {
      {"help", "-h", {}},
      {"help after quiet", "-q -h", {}},
      {"unknown letter", "-x", {"|Unknown char", std::string("Usage|") + usage}},
      {"port missing", "-t", {"|Unknown char", std::string("Usage|") + usage}},
      {"unknown port", "-t LPT1", {"ERROR|Error: unknown serial port"}},
      {"unknown port, quiet first", "-q -t LPT1", {}},
      {"quiet after the bad option", "-t LPT1 -q", {"ERROR|Error: unknown serial port"}},
      {"option after the file", "pkg.bin -q", {std::string("Usage|") + usage}},
      {"two files", "a.bin b.bin", {std::string("Usage|") + usage}},
      {"two files, quiet", "-q a.bin b.bin", {}},
      {"colon in a group", "-q:", {}},
      {"lowercase simulator", "-t simulator", {"ERROR|Error: unknown serial port"}},
  };
  for (const ExitRow &row : rows) {
    RunRecordReset(&testRun);
    FakeUiReset();
    std::remove("C:\\FWLog.txt");
    EXPECT_EQ(QuillonRun(&testRun, row.line), 1) << row.name;
    EXPECT_EQ(Boxes(), row.boxes) << row.name;
    EXPECT_EQ(Log(), banner) << row.name;
  }
}

TEST_F(EntryTest, UnknownCharHasAnEmptyCaptionAndAnOkButton) {
  QuillonRun(&testRun, "-x");
  ASSERT_EQ(fakeUi.shown.size(), 2u);
  EXPECT_EQ(fakeUi.shown[0].owner, nullptr);
  EXPECT_EQ(fakeUi.shown[0].caption, "");
  EXPECT_EQ(fakeUi.shown[0].style, (unsigned)OS_MB_OK);
}

struct StateRow {
  const char *name;
  const char *line;
  const char *port;
  int quiet;
  int force;
  const char *file;  // nullptr: none
};

TEST_F(EntryTest, SetsTheRunRecord) {
  const StateRow rows[] = {
      {"nothing", "", "", 0, 0, nullptr},
      {"port and file", "-q -t COM3 pkg.bin", "\\\\.\\COM3", 1, 0, "pkg.bin"},
      {"attached port", "-q -tCOM12", "\\\\.\\COM12", 1, 0, nullptr},
      {"simulator", "-qf -t SIMULATOR", "SIMULATOR", 1, 1, nullptr},
      {"port cut to 19", "-q -t COM1234567890123456789", "\\\\.\\COM123456789012", 1, 0, nullptr},
      {"long port containing COM", "-q -t xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxCOM", "\\\\.\\xxxxxxxxxxxxxxx", 1,
       0, nullptr},
      {"quoted path with blanks", "-q \"C:\\My Files\\pkg.bin\"", "", 1, 0, "C:\\My Files\\pkg.bin"},
      {"double dash then a dash file", "-q -- -file", "", 1, 0, "-file"},
  };
  for (const StateRow &row : rows) {
    RunRecordReset(&testRun);
    FakeUiReset();
    QuillonRun(&testRun, row.line);
    EXPECT_STREQ(testRun.portName, row.port) << row.name;
    EXPECT_EQ(testRun.quiet, row.quiet) << row.name;
    EXPECT_EQ(testRun.forced, row.force) << row.name;
    if (row.file == nullptr)
      EXPECT_EQ(testRun.packageFile, nullptr) << row.name;
    else
      EXPECT_STREQ(testRun.packageFile, row.file) << row.name;
  }
}

// On disk: each "\r\n" of the record as CR CR LF.
std::string ResultBlock(int code, const char *text) {
  std::string line = text;
  line.replace(line.size() - 2, 2, "\r\r\n");
  return "\r\r\nRESULT (" + std::to_string(code) + "): " + line + "\r\r\n=== FW Update finished ===\r\r\n\r\r\n";
}

struct OutcomeRow {
  const char *name;
  const char *line;
  bool noDialog;           // dialog 104 cannot be created
  bool cancel;             // the user presses Cancel
  int code;
  const char *dialogLine;  // what the main dialog logged, nullptr for nothing
};

std::size_t Count(const std::string &text, const std::string &part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) count++;
  return count;
}

// Whatever ends the main dialog without an update, the exit code and the
// result record say the same; a code the dialog recorded first stays.
TEST_F(EntryTest, TheMainDialogsOutcomeIsTheExitCodeAndTheResult) {
  const OutcomeRow rows[] = {
      {"quiet, no module anywhere", "-q -t COM9", /*noDialog=*/false, /*cancel=*/false, /*code=*/1,
       "QuillonDlg OK Pressed\r\r\n"},
      {"quiet, the simulator is no module the rules know", "-q -t SIMULATOR", /*noDialog=*/false, /*cancel=*/false,
       /*code=*/2, "QuillonDlg OK Pressed\r\r\n"},
      {"cancelled", "-t SIMULATOR", /*noDialog=*/false, /*cancel=*/true, /*code=*/1, "QuillonDlg Cancel Pressed\r\r\n"},
      {"the main dialog cannot be created", "-t SIMULATOR", /*noDialog=*/true, /*cancel=*/false, /*code=*/1, nullptr},
  };
  for (const OutcomeRow &row : rows) {
    SCOPED_TRACE(row.name);
    ResetFakes();
    std::remove("C:\\FWLog.txt");
    if (row.noDialog) fakeDialog.failCreate.insert(104);
    if (row.cancel) fakeDialog.users[104] = [](OsWindow dialog) { FakeDialogPress(dialog, OS_IDCANCEL); };
    EXPECT_EQ(QuillonRun(&testRun, row.line), row.code);
    EXPECT_EQ(testRun.result, row.code);
    const std::string log = Log();
    const std::string result = ResultBlock(row.code, UpgradeLogResultText(row.code));
    EXPECT_EQ(log.rfind(banner, 0), 0u);
    ASSERT_GE(log.size(), result.size());
    EXPECT_EQ(log.substr(log.size() - result.size()), result);
    EXPECT_EQ(Count(log, "RESULT ("), 1u);
    const bool pressedOk = row.dialogLine != nullptr && std::string(row.dialogLine).find("OK") != std::string::npos;
    EXPECT_EQ(Count(log, "Time: "), pressedOk ? 1u : 0u) << "the run header comes with OK only";
    EXPECT_EQ(Count(log, "QuillonDlg"), row.dialogLine != nullptr ? 1u : 0u);
    if (row.dialogLine != nullptr) {
      EXPECT_EQ(Count(log, row.dialogLine), 1u);
    }
    // The log of a dialog never made is that of a run that gave up right
    // after the opening probe: the trace must say which it was.
    bool said = false;
    for (const std::string &line : fakeDebugLines)
      said = said || line.find("Main dialog not created") != std::string::npos;
    EXPECT_EQ(said, row.noDialog);
  }
}

TEST_F(EntryTest, HostileCommandLinesEndInADefinedOutcome) {
  std::string many;
  for (int i = 0; i < 40; i++) many += "-q ";
  struct Row {
    std::string line;
    bool early;  // ends while reading the command line: banner only
  } rows[] = {
      {"-q \"unbalanced", false},
      {"-q -t \"COM3", false},
      {"-q " + std::string(5000, 'z'), false},
      {"-q -t COM" + std::string(300, '9'), false},
      {many, false},
      {"-q --", false},
      {"-q - x", true},
      {"-q -:", true},
      {"-q -\xff\xfe", true},
      {"-q \"\"", false},
      {"\"-q\" -x", true},
  };
  for (const Row &row : rows) {
    RunRecordReset(&testRun);
    FakeUiReset();
    std::remove("C:\\FWLog.txt");
    EXPECT_EQ(QuillonRun(&testRun, row.line.c_str()), 1) << row.line.substr(0, 40);
    std::string log = Log();
    if (row.early)
      EXPECT_EQ(log, banner) << row.line.substr(0, 40);
    else
      EXPECT_NE(log.find("=== FW Update finished ==="), std::string::npos) << row.line.substr(0, 40);
  }
}

TEST(RunSetResult, KeepsTheFirstFailure) {
  RunRecordReset(&testRun);
  RunSetResult(&testRun, RESULT_SUCCESS);
  RunSetResult(&testRun, RESULT_UPDATE_FAILED);
  RunSetResult(&testRun, RESULT_VERSION_UNCHANGED);
  RunSetResult(&testRun, RESULT_SUCCESS);
  EXPECT_EQ(testRun.result, RESULT_UPDATE_FAILED);
}

TEST(ShowMessage, IsSilentInQuietMode) {
  RunRecordReset(&testRun);
  FakeUiReset();
  testRun.quiet = 1;
  EXPECT_EQ(ShowMessage(testRun.quiet, nullptr, "t", "c", OS_MB_OK), 1);
  EXPECT_TRUE(fakeUi.shown.empty());
  testRun.quiet = 0;
  fakeUi.answers.push_back(OS_IDCANCEL);
  EXPECT_EQ(ShowMessage(testRun.quiet, nullptr, "t", "c", OS_MB_OKCANCEL), OS_IDCANCEL);
  EXPECT_EQ(fakeUi.shown.size(), 1u);
}

}  // namespace
