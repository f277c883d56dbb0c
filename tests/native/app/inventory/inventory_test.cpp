// The inventory through the entry (`-i`) against a module on a fake port:
// per status, the exit code, the report read back field by field, and the
// exact commands the module received; nothing shown, started or logged.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/inventory/inventory.h"
#include "app/run_record.h"
#include "device/devices.h"
#include "fakes/fake_all.h"
#include "fakes/fake_child_process.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_file_replace.h"
#include "fakes/fake_power.h"
#include "fakes/fake_process.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_std_output.h"
#include "fakes/fake_ui.h"
#include "log/upgrade_log.h"
#include "module_interface.h"
#include "support/json_value.h"
#include "support/scripted_module.h"
#include "support/shared_texts.h"
#include "support/source_tree.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "support/trace_lines.h"
#include "version_control/packages.h"

namespace {

const char reportPath[] = "C:\\FWInventory.json";
const char logPath[] = "C:\\FWLog.txt";

std::string Identity(const std::string &product, const std::string &revision, const std::string &version) {
  return "\r\nModel. M7120x\r\nProduct Number. " + product + "\r\nRevision. " + revision +
         "\r\nIMEI Data. 0044 0170 1234 567\r\nSoftware Version. " + version +
         "\r\nBuild Date. Jan 5 2009\r\n\r\nOK\r\n";
}

const std::string admitted = Identity("QHW 552 08/101", "R1J", "R1D05");
const std::string refusedBoard = Identity("QHW 552 08/106", "R1D", "R1D05");
const char ok[] = "\r\nOK\r\n";
const char error[] = "\r\nERROR\r\n";
const char atMode[] = "\r\nM7120x\r\n\r\nOK\r\n";

bool InventoryMaySend(const std::string &command) {
  for (const ModuleCommand *allowed : inventoryCommands)
    if (command == allowed->text) return true;
  return false;
}

std::string Hex(const unsigned char *bytes, size_t length) {
  std::string hex;
  char two[3];
  for (size_t i = 0; i < length; i++) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    hex += two;
  }
  return hex;
}

class InventoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    ASSERT_TRUE(folder.Enter());
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    ResetAllFakes();
    RunRecordReset(&testRun);
    UpgradeLogForget();
  }
  // A module on COM7 that discovery finds.
  static std::shared_ptr<ScriptedModule> Plug(std::map<std::string, std::string> replies) {
    FakeRegKey &key = FakeRegistryAddKey("HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
    key.values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
    return PlayModule(FakeCommAddPort(com7), ReplyFrom(std::move(replies), error));
  }
  // The report on standard output, read back; the file must hold the same.
  static JsonValue Report() {
    JsonValue report;
    EXPECT_TRUE(ParseJson(fakeStdOutput.bytes, &report)) << fakeStdOutput.bytes;
    EXPECT_EQ(ReadBytes(reportPath), fakeStdOutput.bytes);
    return report;
  }
  // Nothing a run changes or shows: no box, no dialog, no console program,
  // no upgrade log, no port left open.
  static void ExpectUntouched() {
    EXPECT_TRUE(fakeUi.shown.empty());
    EXPECT_TRUE(fakeDialog.calls.empty());
    EXPECT_TRUE(fakeChildProcess.starts.empty());
    EXPECT_EQ(ReadBytes(logPath), "");
    EXPECT_TRUE(fakeComm.handles.empty());
    EXPECT_EQ(testRun.device, nullptr);
  }

  TempFolder folder;
};

TEST_F(InventoryTest, EachStatusGivesItsCodeReportAndCommands) {
  using Commands = std::vector<std::string>;
  struct Row {
    const char *name;
    const char *args;
    std::map<std::string, std::string> replies;
    bool plugged;
    bool heldElsewhere;
    int code;
    const char *status;
    const char *sim;
    const char *mode;      // nullptr: module is null
    const char *version;   // the module's softwareVersion in the report
    bool target;
    Commands commands;
  } const rows[] = {
      {"applicable, update-state query taken", "-i", {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}},
       true, false, 0, "applicable", "not-checked", "at", "R1D05", true,
       {"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?"}},
      {"applicable, SIM ready, quiet and named port", "-q -i -t COM7",
       {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT+CPIN?", "\r\n+CPIN: READY\r\n\r\nOK\r\n"}}, true, false, 0,
       "applicable", "ready", "at", "R1D05", true, {"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?", "AT+CPIN?"}},
      {"current", "-i", {{"AT+CGMM", atMode}, {"AT*QVERS", Identity("QHW 552 08/101", "R1J", "R1D06")}, {"AT*QESFUD?", ok}},
       true, false, 20, "current", "not-checked", "at", "R1D06", true,
       {"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?"}},
      {"not supported", "-i", {{"AT+CGMM", atMode}, {"AT*QVERS", refusedBoard}, {"AT*QESFUD?", ok}}, true, false, 22,
       "not-supported", "not-checked", "at", "R1D05", false, {"AT+CGMM", "AT*QVERS", "AT*QVERS"}},
      {"forced past the rules", "-i -f", {{"AT+CGMM", atMode}, {"AT*QVERS", refusedBoard}, {"AT*QESFUD?", ok}}, true,
       false, 0, "applicable", "not-checked", "at", "R1D05", true, {"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?"}},
      {"sim missing", "-i", {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}}, true, false, 25, "sim-missing", "missing",
       "at", "R1D05", true, {"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?", "AT+CPIN?"}},
      {"pin required", "-i", {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT+CPIN?", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"}},
       true, false, 26, "pin-required", "pin", "at", "R1D05", true,
       {"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?", "AT+CPIN?"}},
      {"puk required", "-i", {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT+CPIN?", "\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n"}},
       true, false, 26, "pin-required", "puk", "at", "R1D05", true,
       {"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?", "AT+CPIN?"}},
      {"update mode", "-i", {{"vers=1", ok}}, true, false, 24, "update-mode", "not-checked", "update", "", false,
       {"AT+CGMM", "vers=1", "AT*QVERS", "AT*QVER2"}},
      {"answers the probe, not the identification", "-i", {{"AT+CGMM", atMode}}, true, false, 21, "no-module",
       "not-checked", "at", "", false, {"AT+CGMM", "AT*QVERS", "AT*QVER2"}},
      {"silent port, probed twice as a run's open and first poll do", "-i", {}, true, false, 21, "no-module",
       "not-checked", nullptr, "", false, {"AT+CGMM", "vers=1", "AT+CGMM", "vers=1"}},
      {"no port at all", "-i", {}, false, false, 21, "no-module", "not-checked", nullptr, "", false, {}},
      {"port held by another program", "-i", {{"AT+CGMM", atMode}}, true, true, 27, "port-busy", "not-checked",
       nullptr, "", false, {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    std::remove(reportPath);
    std::shared_ptr<ScriptedModule> module;
    if (row.plugged) {
      module = Plug(row.replies);
      fakeComm.ports[com7].heldElsewhere = row.heldElsewhere;
    }
    EXPECT_EQ(QuillonRun(&testRun, row.args), row.code);
    EXPECT_EQ(module ? module->commands : Commands{}, row.commands);
    for (const std::string &sent : row.commands) EXPECT_TRUE(InventoryMaySend(sent)) << sent << " is not in the list";
    ExpectUntouched();

    JsonValue report = Report();
    EXPECT_EQ(report["schema"].number, 1);
    EXPECT_EQ(report["tool"].text, "Quillon CXC 173 0961/1 R1A");
    EXPECT_EQ(report["status"].text, row.status);
    EXPECT_EQ(report["exitCode"].number, row.code);
    EXPECT_EQ(report["reason"].kind, JsonValue::String);
    EXPECT_FALSE(report["reason"].text.empty());
    EXPECT_EQ(report["sim"].text, row.sim);
    EXPECT_EQ(report["lastRun"].kind, JsonValue::Null);
    // A desktop's reading, as every machine of these tests gives.
    EXPECT_EQ(report["power"]["ac"].text, "online");
    EXPECT_EQ(report["power"]["batteryPercent"].kind, JsonValue::Null);
    ASSERT_TRUE(report.Has("module"));
    const JsonValue &found = report["module"];
    if (row.mode == nullptr) {
      EXPECT_EQ(found.kind, JsonValue::Null);
    } else {
      EXPECT_EQ(found["port"].text, "COM7");
      EXPECT_EQ(found["mode"].text, row.mode);
      bool identified = row.version[0] != '\0';
      EXPECT_EQ(found["model"].text, identified ? "M7120x" : "");
      EXPECT_EQ(found["imei"].text, identified ? "0044 0170 1234 567" : "");
      EXPECT_EQ(found["buildDate"].text, identified ? "Jan 5 2009" : "");
      EXPECT_EQ(found["softwareVersion"].text, row.version);
      EXPECT_EQ(found["productNumber"].kind, JsonValue::String);
      EXPECT_EQ(found["revision"].kind, JsonValue::String);
    }
    const JsonValue &target = report["target"];
    if (!row.target) {
      EXPECT_EQ(target.kind, JsonValue::Null);
      continue;
    }
    EXPECT_EQ(target["version"].text, "R1D06");
    ASSERT_EQ(target["packages"].items.size(), 1u);
    const JsonValue &package = target["packages"].items[0];
    EXPECT_EQ(package["from"].text, "");
    EXPECT_EQ(package["to"].text, "R1D06");
    EXPECT_EQ(package["bytes"].number, PackageCatalogue[0].imageLength);
    EXPECT_EQ(package["sha256"].text, Hex(PackageCatalogue[0].sha256, SHA256_DIGEST_SIZE));
  }
}

// The power is read whatever the status; it decides only where nothing
// before it would stop a run, as it is a run's last check.
TEST_F(InventoryTest, PowerIsReportedAndDecidesLast) {
  const OsPowerStatus onAc = {/*acLineStatus=*/1, /*batteryFlag=*/128, /*batteryLifePercent=*/255};
  const OsPowerStatus atTen = {/*acLineStatus=*/0, /*batteryFlag=*/4, /*batteryLifePercent=*/10};
  const OsPowerStatus atThirty = {/*acLineStatus=*/0, /*batteryFlag=*/0, /*batteryLifePercent=*/30};
  const OsPowerStatus acUnknownAtTen = {/*acLineStatus=*/255, /*batteryFlag=*/2, /*batteryLifePercent=*/10};
  const OsPowerStatus criticalNoCharge = {/*acLineStatus=*/0, /*batteryFlag=*/4, /*batteryLifePercent=*/255};
  struct Row {
    const char *name;
    OsPowerStatus power;
    bool readingFails;
    std::map<std::string, std::string> replies;  // none: no module
    int code;
    const char *status;
    const char *ac;
    int percent;  // -1: null
  } const rows[] = {
      {"applicable on AC", onAc, false, {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}}, 0,
       "applicable", "online", -1},
      {"applicable on battery at 10 %", atTen, false,
       {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}}, 28, "battery-low", "offline", 10},
      {"current on battery at 10 %: a run would still start", atTen, false,
       {{"AT+CGMM", atMode}, {"AT*QVERS", Identity("QHW 552 08/101", "R1J", "R1D06")}, {"AT*QESFUD?", ok}}, 28,
       "battery-low", "offline", 10},
      {"applicable on battery at 30 %", atThirty, false,
       {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}}, 0, "applicable", "offline", 30},
      {"applicable, AC unknown, battery at 10 % not charging", acUnknownAtTen, false,
       {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}}, 28, "battery-low", "unknown", 10},
      {"applicable on a critical battery with no charge given", criticalNoCharge, false,
       {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}}, 28, "battery-low", "offline", -1},
      {"not supported on battery at 10 %", atTen, false, {{"AT+CGMM", atMode}, {"AT*QVERS", refusedBoard}}, 22,
       "not-supported", "offline", 10},
      {"pin required on battery at 10 %", atTen, false,
       {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT+CPIN?", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"}}, 26,
       "pin-required", "offline", 10},
      {"no module on battery at 10 %", atTen, false, {}, 21, "no-module", "offline", 10},
      {"the reading fails", atTen, true, {{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}}, 0,
       "applicable", "unknown", -1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    std::remove(reportPath);
    if (!row.replies.empty()) Plug(row.replies);
    fakePower.status = row.power;
    fakePower.statusFails = row.readingFails;
    EXPECT_EQ(QuillonRun(&testRun, "-i"), row.code);
    ExpectUntouched();
    JsonValue report = Report();
    EXPECT_EQ(report["schema"].number, 1);
    EXPECT_EQ(report["status"].text, row.status);
    EXPECT_EQ(report["exitCode"].number, row.code);
    const JsonValue &power = report["power"];
    EXPECT_EQ(power["ac"].text, row.ac);
    if (row.percent < 0)
      EXPECT_EQ(power["batteryPercent"].kind, JsonValue::Null);
    else
      EXPECT_EQ(power["batteryPercent"].number, row.percent);
  }
}

// The carried catalogue is one full package, which fits any firmware; a
// catalogue of deltas can leave a module without a path.
TEST_F(InventoryTest, NoPackageForTheFirmwareIsNoUpgradePath) {
  static const unsigned char digest[SHA256_DIGEST_SIZE] = {};
  const PackageEntry deltas[] = {{"R1D04", "R1D06", nullptr, 10, digest}};
  auto module = Plug({{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}});
  const InventoryRequest request = {com7, 0, deltas, 1, "R1D06"};
  static InventoryRecord record;
  SerialDevice *device = nullptr;
  InventoryJudge(&request, &device, &record);
  DeviceClose(device);
  EXPECT_EQ(record.status, INVENTORY_NO_UPGRADE_PATH);
  EXPECT_EQ(InventoryExitCode(record.status), 23);
  EXPECT_EQ(record.targetVersion, nullptr);
  EXPECT_EQ(record.packageCount, 0);
  EXPECT_EQ(module->commands, (std::vector<std::string>{"AT+CGMM", "AT*QVERS", "AT*QVERS", "AT*QESFUD?"}));
}

// The refusal's own box text, with its typographic apostrophe in UTF-8.
TEST_F(InventoryTest, NotSupportedGivesTheRefusalText) {
  Plug({{"AT+CGMM", atMode}, {"AT*QVERS", refusedBoard}});
  EXPECT_EQ(QuillonRun(&testRun, "-i"), 22);
  EXPECT_EQ(Report()["reason"].text,
            "This update package doesn\xE2\x80\x99t support the installed Mobile Broadband Module.");
}

TEST_F(InventoryTest, LastRunIsTheLogsLastResultAndTheLogStaysAsItWas) {
  const std::string log =
      "===FW upgrade started ===\r\r\n\r\r\nRESULT (0): Upgrade finishied succesfully\r\r\n\r\r\n"
      "=== FW Update finished ===\r\r\n\r\r\n===FW upgrade started ===\r\r\n\r\r\nRESULT (4): Pin error\r\r\n"
      "\r\r\n=== FW Update finished ===\r\r\n\r\r\n===FW upgrade started ===\r\r\n";
  FILE *file = std::fopen(logPath, "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(log.data(), 1, log.size(), file);
  std::fclose(file);
  EXPECT_EQ(QuillonRun(&testRun, "-i"), 21);
  JsonValue report = Report();
  const JsonValue &lastRun = report["lastRun"];
  EXPECT_EQ(lastRun["code"].number, 4);
  EXPECT_EQ(lastRun["text"].text, "Pin error");
  EXPECT_EQ(ReadBytes(logPath), log);
}

// A fleet tool still learns the status from the exit code and whichever
// copy of the report could be written. The report is written beside the
// old one under this process's own name, put on the disk, and only then
// moved over it; a report that did not get there is removed.
TEST_F(InventoryTest, AReportThatCannotBeWrittenChangesNoExitCode) {
  const std::string temp = "C:\\FWInventory.json.4242.tmp";
  struct Row {
    const char *name;
    bool stdoutPresent;
    bool stdoutFails;
    bool writeFails;
    bool flushFails;
    bool replaceFails;
    bool fileWritten;
    const char *warning;  // "" for none
  } const rows[] = {
      {"no standard output", /*stdoutPresent=*/false, /*stdoutFails=*/false, /*writeFails=*/false,
       /*flushFails=*/false, /*replaceFails=*/false, /*fileWritten=*/true, /*warning=*/""},
      {"standard output closed", true, true, false, false, false, true, "Inventory not written to standard output\n"},
      {"the write fails", true, false, true, false, false, false, "Inventory not written to C:\\FWInventory.json\n"},
      {"the flush to the disk fails", true, false, false, true, false, false,
       "Inventory not written to C:\\FWInventory.json\n"},
      {"the move over the report fails", true, false, false, false, true, false,
       "Inventory not written to C:\\FWInventory.json\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    const std::string before = "{\"old\": true}\n";
    FILE *file = std::fopen(reportPath, "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(before.data(), 1, before.size(), file);
    std::fclose(file);
    Plug({{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}});
    fakeStdOutput.present = row.stdoutPresent;
    fakeStdOutput.failWrites = row.stdoutFails;
    fakeFileReplace.failWrite = row.writeFails;
    fakeFileReplace.failFlush = row.flushFails;
    fakeFileReplace.fail = row.replaceFails;
    EXPECT_EQ(QuillonRun(&testRun, "-i"), 0);
    std::vector<std::string> order = {"create " + temp, "write " + temp};
    if (!row.writeFails) order.push_back("flush " + temp);
    order.push_back("close " + temp);
    if (!row.writeFails && !row.flushFails) order.push_back("replace " + temp + " " + reportPath);
    EXPECT_EQ(fakeFileReplace.order, order) << "on the disk before it replaces the report";
    EXPECT_EQ(ReadBytes(temp), "") << "no temporary file left behind";
    JsonValue report;
    std::string kept = ReadBytes(reportPath);
    if (row.fileWritten) {
      ASSERT_TRUE(ParseJson(kept, &report)) << kept;
      EXPECT_EQ(report["status"].text, "applicable");
    } else {
      EXPECT_EQ(kept, before);
    }
    std::vector<std::string> warnings = Messages("WARNING");
    if (row.warning[0] == '\0')
      EXPECT_TRUE(warnings.empty());
    else
      EXPECT_NE(std::find(warnings.begin(), warnings.end(), row.warning), warnings.end()) << ::testing::PrintToString(warnings);
  }
}

// Two inventories started at once write their reports under names of
// their own: neither touches the other's half-written file.
TEST_F(InventoryTest, EachProcessWritesItsOwnTemporaryReport) {
  const std::string other = "C:\\FWInventory.json.7.tmp";
  FILE *file = std::fopen(other.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("{\"half", file);
  std::fclose(file);
  Plug({{"AT+CGMM", atMode}, {"AT*QVERS", admitted}, {"AT*QESFUD?", ok}});
  fakeProcessId = 8;
  EXPECT_EQ(QuillonRun(&testRun, "-i"), 0);
  ASSERT_EQ(fakeFileReplace.calls.size(), 1u);
  EXPECT_EQ(fakeFileReplace.calls[0].from, "C:\\FWInventory.json.8.tmp");
  EXPECT_EQ(ReadBytes(other), "{\"half") << "the other run's file is its own";
  JsonValue report;
  EXPECT_TRUE(ParseJson(ReadBytes(reportPath), &report));
}

// Command-line errors end with 1 as today, but an inventory shows no box
// and writes nothing: no report, no upgrade log.
TEST_F(InventoryTest, CommandLineErrorsExitWithOneAndWriteNothing) {
  // ("pkg.bin -i" is no inventory: after a file name, -i is a second file.)
  const char *const lines[] = {"-i pkg.bin", "-i -x", "-x -i", "-i -t LPT1", "-i -h"};
  for (const char *line : lines) {
    SCOPED_TRACE(line);
    Reset();
    std::remove(logPath);
    auto module = Plug({{"AT+CGMM", atMode}});
    EXPECT_EQ(QuillonRun(&testRun, line), 1);
    EXPECT_TRUE(module->commands.empty());
    EXPECT_EQ(fakeStdOutput.bytes, "");
    EXPECT_EQ(ReadBytes(reportPath), "");
    ExpectUntouched();
  }
}

// Without -i, nothing changes: the banner is written and the file name is
// taken as before.
TEST_F(InventoryTest, WithoutTheOptionARunStaysARun) {
  EXPECT_EQ(QuillonRun(&testRun, "-h"), 1);
  EXPECT_EQ(ReadBytes(logPath), "===FW upgrade started ===\r\r\n");
  EXPECT_EQ(ReadBytes(reportPath), "");
}

// The README's table of the commands the inventory sends is the code's
// list, in its order.
TEST(InventoryCommands, TheReadmeTableIsTheList) {
  const std::string readme = SourceTreeFile("README.md");
  const std::string head = "| Command | What it asks |\n|---|---|\n";
  size_t at = readme.find(head);
  ASSERT_NE(at, std::string::npos) << "the README's table of the inventory's commands";
  std::vector<std::string> listed;
  for (at += head.size(); readme.compare(at, 3, "| `") == 0; at = readme.find('\n', at) + 1) {
    size_t end = readme.find('`', at + 3);
    ASSERT_NE(end, std::string::npos);
    listed.push_back(readme.substr(at + 3, end - at - 3));
  }
  std::vector<std::string> list;
  for (const ModuleCommand *command : inventoryCommands) list.push_back(command->text);
  EXPECT_EQ(listed, list);
}

}  // namespace
