// The check before an update: a fresh identification, the forced mode and
// its record, and the text that tells the user why not.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/run_record.h"
#include "fakes/fake_ui.h"
#include "log/upgrade_log.h"
#include "support/module_port_fixture.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "version_control/check.h"
#include "version_control/judge.h"

namespace {

class CheckVersionControlTest : public ModulePortTest {
 protected:
  void SetUp() override {
    FakeUiReset();
    RunRecordReset(&testRun);
    ModulePortTest::SetUp();
    if (HasFatalFailure()) return;
    // One module for the whole test, so its commands add up across checks.
    Answer([this](const std::string &command) { return ReplyFrom(replies, "ERROR\r\n")(command); });
    logPath = folder.File("FWLog.txt");
    UpgradeLogOpen(logPath.c_str());
  }

  // The module reports these fields to AT*QVERS.
  void Identity(const std::string &product, const std::string &revision, const std::string &software,
                const std::string &imei) {
    replies["AT*QVERS"] = "Model. QM7\r\nProduct Number. " + product + "\r\nRevision. " + revision +
                          "\r\nIMEI Data. " + imei + "\r\nSoftware Version. " + software +
                          "\r\nBuild Date. Jan 5 2009\r\nOK\r\n";
  }

  std::string Log() { return ReadBytes(logPath); }

  // As the main dialog asks: a forced upgrade is recorded.
  VersionCheck Check(SerialDevice *on, int force) {
    return CheckVersionControl(on, force, VC_FORCED_RECORD_WRITTEN);
  }

  std::map<std::string, std::string> replies;
  TempFolder folder;
  std::string logPath;
};

struct CheckRow {
  const char *name;
  const char *product, *revision, *software, *imei;
  int force;
  int allowed;
  VersionVerdict verdict;  // whose text comes back when refused
  bool forcedLogged;
};

TEST_F(CheckVersionControlTest, DecidesAndExplains) {
  const CheckRow rows[] = {
      {"admitted", "QHW 552 08/101", "R1D", "R1D05", "35", 0, 1, VC_ADMITTED, false},
      {"unknown variant", "QHW 552 08/106", "R1D", "R1D05", "35", 0, 0, VC_MODULE_UNKNOWN, false},
      {"hardware before firmware", "QHW 552 08/021", "R1Z", "R1A027", "35", 0, 0, VC_HARDWARE_REFUSED, false},
      {"too old a firmware", "QHW 552 08/021", "R1D", "R1B/1", "35", 0, 0, VC_FIRMWARE_REFUSED, false},
      {"forced, IMEI with spaces", "QHW 552 08/106", "R1Z", "R0", "0044 0170 1234 567", 1, 1, VC_ADMITTED, true},
      {"forced, IMEI too short", "QHW 552 08/106", "R1D", "R1D05", "0044017", 1, 0, VC_MODULE_UNKNOWN, false},
      {"forced, wrong prefix", "QHW 552 08/106", "R1D", "R1D05", "00440171234567", 1, 0, VC_MODULE_UNKNOWN,
       false},
      {"forced, wrong prefix, module admitted anyway", "QHW 552 08/101", "R1D", "R1D05", "35", 1, 1,
       VC_ADMITTED, false},
      {"qualifying IMEI without -f", "QHW 552 08/106", "R1D", "R1D05", "004401701234567", 0, 0,
       VC_MODULE_UNKNOWN, false},
  };
  for (const CheckRow &row : rows) {
    SCOPED_TRACE(row.name);
    FakeUiReset();
    module->commands.clear();
    std::remove(logPath.c_str());
    Identity(row.product, row.revision, row.software, row.imei);
    VersionCheck check = Check(&device, row.force);
    EXPECT_EQ(check.passed, row.allowed);
    EXPECT_EQ(module->commands, std::vector<std::string>{"AT*QVERS"});
    if (row.allowed)
      EXPECT_EQ(check.refusal, nullptr);
    else
      EXPECT_STREQ(check.refusal, VersionVerdictMessage(row.verdict));
    EXPECT_TRUE(fakeUi.shown.empty()) << "the caller shows the refusal, not the check";
    EXPECT_EQ(Log().find("\r\nFORCED UPGRADE\r\n") != std::string::npos, row.forcedLogged);
  }
}

// The inventory's call: the same pass, without the record a run leaves.
TEST_F(CheckVersionControlTest, AForcedUpgradeIsRecordedOnlyWhenTheCallerSaysSo) {
  Identity("QHW 552 08/106", "R1Z", "R0", "0044 0170 1234 567");
  VersionCheck check = CheckVersionControl(&device, 1, VC_FORCED_RECORD_SKIPPED);
  EXPECT_EQ(check.passed, 1);
  EXPECT_EQ(Log().find("FORCED UPGRADE"), std::string::npos);
  EXPECT_EQ(Check(&device, 1).passed, 1);
  EXPECT_NE(Log().find("\r\nFORCED UPGRADE\r\n"), std::string::npos);
}

TEST_F(CheckVersionControlTest, QuietModeChangesNothingInTheVerdict) {
  testRun.quiet = 1;
  Identity("QHW 552 08/106", "R1D", "R1D05", "35");
  EXPECT_STREQ(Check(&device, 0).refusal, VersionVerdictMessage(VC_MODULE_UNKNOWN));
  Identity("QHW 552 08/101", "R1D", "R1D05", "35");
  EXPECT_EQ(Check(&device, 0).passed, 1);
  EXPECT_TRUE(fakeUi.shown.empty());
}

// Each check asks the module again: what it said before does not count.
TEST_F(CheckVersionControlTest, IdentifiesAfreshEveryTime) {
  Identity("QHW 552 08/101", "R1D", "R1D05", "35");
  EXPECT_EQ(Check(&device, 0).passed, 1);
  Identity("QHW 552 08/101", "R1D", "R1B/4", "35");
  VersionCheck check = Check(&device, 0);
  EXPECT_EQ(check.passed, 0);
  EXPECT_EQ(module->commands, (std::vector<std::string>{"AT*QVERS", "AT*QVERS"}));
  EXPECT_STREQ(check.refusal, VersionVerdictMessage(VC_FIRMWARE_REFUSED));
}

TEST_F(CheckVersionControlTest, NoModuleIsAnUnknownModule) {
  VersionCheck check = Check(nullptr, 1);
  EXPECT_EQ(check.passed, 0);
  EXPECT_STREQ(check.refusal, VersionVerdictMessage(VC_MODULE_UNKNOWN));
}

}  // namespace
