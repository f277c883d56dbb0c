// The upgrade log's records, byte for byte as they land on disk.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fakes/fake_clock.h"
#include "log/upgrade_log.h"
#include "support/temp_files.h"

namespace {

class UpgradeLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeClockReset();
    path = folder.File("FWLog.txt");
  }

  std::string Bytes() { return ReadBytes(path); }

  TempFolder folder;
  std::string path;
};

TEST_F(UpgradeLogTest, TranslatesLineFeedsAsTheWindowsTextModeDoes) {
  UpgradeLogOpen(path.c_str());
  UpgradeLogForced();
  UpgradeLogWrite("plain %s", "text");
  EXPECT_EQ(Bytes(), "===FW upgrade started ===\r\r\n\r\nFORCED UPGRADE\r\nplain text");
}

TEST_F(UpgradeLogTest, WritesEveryResultText) {
  struct Row {
    int code;
    const char *text;
  } rows[] = {
      {0, "Upgrade finishied succesfully"}, {1, "Unknown error"},
      {2, "This version is not supported"}, {3, "Sim missing"},
      {4, "Pin error"},                     {5, "Update failed"},
      {6, "Upgrade path error"},            {7, "Version did not change"},
      {8, "Timeout"},                       {9, "Battery low"},
      {10, "Unknown return code"},
      {-1, "Unknown return code"},
  };
  for (const Row &row : rows) {
    std::remove(path.c_str());
    UpgradeLogOpen(path.c_str());
    UpgradeLogResult(row.code);
    std::string expected = "===FW upgrade started ===\r\r\n\r\r\nRESULT (" + std::to_string(row.code) +
                           "): " + row.text + "\r\r\n\r\r\n=== FW Update finished ===\r\r\n\r\r\n";
    EXPECT_EQ(Bytes(), expected) << row.code;
  }
}

TEST_F(UpgradeLogTest, TwoRunsAppendTwoBlocks) {
  for (int run = 0; run < 2; run++) {
    UpgradeLogOpen(path.c_str());
    UpgradeLogResult(0);
  }
  std::string block =
      "===FW upgrade started ===\r\r\n\r\r\nRESULT (0): Upgrade finishied succesfully\r\r\n\r\r\n"
      "=== FW Update finished ===\r\r\n\r\r\n";
  EXPECT_EQ(Bytes(), block + block);
}

TEST_F(UpgradeLogTest, WritesTheRunHeaderInCtimeForm) {
  UpgradeLogOpen(path.c_str());
  RunInfo info = {};
  const char *texts[RUN_INFO_SLOTS] = {"Title", "1.2", "3.4", "R1D05", "R1D06", "five", "six", "R1J"};
  for (int i = 0; i < RUN_INFO_SLOTS; i++) std::snprintf(info.slot[i], RUN_INFO_TEXT, "%s", texts[i]);
  fakeClock.localTime = OsLocalTime{2026, 3, 2, 1, 14, 7, 9};
  UpgradeLogRunHeader(&info);
  EXPECT_EQ(Bytes(),
            "===FW upgrade started ===\r\r\n"
            "Time: Mon Mar  2 14:07:09 2026\r\n"
            "Quillon: Title\r\r\n"
            "Driver version: 1.2\r\r\n"
            "Driver package version: 3.4\r\r\n"
            "FW version: R1D05 -> R1D06\r\r\n"
            "HW version: R1J\r\r\n");
}

TEST_F(UpgradeLogTest, RunHeaderStopsAtTheSlotEvenWithoutATerminator) {
  UpgradeLogOpen(path.c_str());
  RunInfo info;
  std::memset(&info, 'x', sizeof info);
  UpgradeLogRunHeader(&info);
  std::string bytes = Bytes();
  EXPECT_NE(bytes.find("Quillon: " + std::string(255, 'x') + "\r\r\n"), std::string::npos);
}

TEST_F(UpgradeLogTest, KeepsARecordLongerThanItsFirstBuffer) {
  UpgradeLogOpen(path.c_str());
  std::string big(3000, 'b');
  UpgradeLogWrite("%s\n", big.c_str());
  EXPECT_EQ(Bytes(), "===FW upgrade started ===\r\r\n" + big + "\r\n");
}

TEST_F(UpgradeLogTest, DropsRecordsBeforeItIsOpened) {
  UpgradeLogForget();
  EXPECT_EQ(UpgradeLogWrite("early %d\n", 1), 0);
  EXPECT_EQ(UpgradeLogResult(3), 0);
  UpgradeLogForced();
  UpgradeLogOpen(path.c_str());
  EXPECT_EQ(Bytes(), "===FW upgrade started ===\r\r\n");
}

TEST_F(UpgradeLogTest, KeepsItsOwnCopyOfThePath) {
  // The caller's text may be gone by the time later records are written.
  std::string given = path;
  UpgradeLogOpen(given.c_str());
  given.assign(given.size(), 'x');
  UpgradeLogWrite("later\n");
  EXPECT_EQ(Bytes(), "===FW upgrade started ===\r\r\nlater\r\n");
}

TEST_F(UpgradeLogTest, DropsRecordsItCannotWrite) {
  // A log in a folder that does not exist: every record is dropped and
  // the caller carries on.
  UpgradeLogOpen("/nonexistent-dir/FWLog.txt");
  EXPECT_EQ(UpgradeLogWrite("x"), 0);
  EXPECT_EQ(UpgradeLogResult(0), 0);
}

}  // namespace
