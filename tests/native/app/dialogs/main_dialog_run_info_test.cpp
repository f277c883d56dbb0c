// The run header's facts: the registry's driver package version read
// whole or not at all, and every slot terminated within its 255 bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/dialogs/main_dialog_run_info.h"
#include "app/run_record.h"
#include "device/devices.h"
#include "device_open/device_open.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_sync.h"
#include "support/scripted_module.h"
#include "support/temp_files.h"
#include "support/test_run.h"

namespace {

const char firstKey[] = "HKLM\\SOFTWARE\\Norvane\\WirelessModule";
const char secondKey[] = "HKLM\\SOFTWARE\\HALVARD\\MobileBroadbandDevice";

struct VersionRow {
  const char *name;
  bool first, second;          // which keys exist
  FakeRegValue firstValue;     // name "" for none
  FakeRegValue secondValue;
  uint32_t firstOpenError;
  std::string expected;
};

FakeRegValue Version(uint32_t type, const std::string &data) { return FakeRegValue{"Version", type, data}; }

TEST(ReadDriverPackageVersion, TakesOnlyWholeTerminatedText) {
  const FakeRegValue none{};
  const std::string longest(254, 'v');
  const VersionRow rows[] = {
      {"first key", true, true, Version(OS_REG_SZ, FakeRegText("7.1.2.0")), Version(OS_REG_SZ, FakeRegText("6.0")),
       0, "7.1.2.0"},
      {"second key when the first is missing", false, true, none, Version(OS_REG_SZ, FakeRegText("6.0")), 0, "6.0"},
      {"second key when the first cannot be opened", true, true, Version(OS_REG_SZ, FakeRegText("7.1")),
       Version(OS_REG_SZ, FakeRegText("6.0")), 5, "6.0"},
      {"the key that opened, even without the value", true, true, none, Version(OS_REG_SZ, FakeRegText("6.0")), 0,
       ""},
      {"no key", false, false, none, none, 0, ""},
      {"a number is no text", true, false, Version(OS_REG_DWORD, std::string("\x07\x01\x00\x00", 4)), none, 0, ""},
      {"expandable text is not the type written", true, false, Version(OS_REG_EXPAND_SZ, FakeRegText("7.1")), none,
       0, ""},
      {"text without its terminator", true, false, Version(OS_REG_SZ, "7.1.2.0"), none, 0, ""},
      {"254 characters and the terminator", true, false, Version(OS_REG_SZ, FakeRegText(longest)), none, 0,
       longest},
      {"255 characters leave no room for the terminator", true, false,
       Version(OS_REG_SZ, FakeRegText(longest + "v")), none, 0, ""},
      {"255 unterminated characters fill the buffer", true, false, Version(OS_REG_SZ, longest + "v"), none, 0, ""},
      {"huge", true, false, Version(OS_REG_SZ, FakeRegText(std::string(100000, 'h'))), none, 0, ""},
      {"a terminator inside ends the text", true, false, Version(OS_REG_SZ, std::string("7.1\0junk\0", 9)), none, 0,
       "7.1"},
      {"empty text", true, false, Version(OS_REG_SZ, FakeRegText("")), none, 0, ""},
  };
  for (const VersionRow &row : rows) {
    SCOPED_TRACE(row.name);
    FakeRegistryReset();
    if (row.first) {
      FakeRegKey &key = FakeRegistryAddKey(firstKey);
      key.openError = row.firstOpenError;
      if (!row.firstValue.name.empty()) key.values.push_back(row.firstValue);
    }
    if (row.second) {
      FakeRegKey &key = FakeRegistryAddKey(secondKey);
      if (!row.secondValue.name.empty()) key.values.push_back(row.secondValue);
    }
    char text[RUN_INFO_TEXT];
    std::memset(text, 'z', sizeof text);
    ReadDriverPackageVersion(text, (int)sizeof text);
    EXPECT_EQ(std::string(text), row.expected);
    EXPECT_TRUE(fakeRegistry.open.empty()) << "every key opened is closed";
    for (const FakeRegCall &call : fakeRegistry.calls) {
      if (call.name == "RegOpenKeyExA") {
        EXPECT_EQ(call.dataSize, (uint32_t)OS_KEY_READ) << "read access only";
      }
      if (call.name == "RegQueryValueExA") {
        EXPECT_EQ(call.dataSize, 255u) << "a 255-byte limit";
      }
    }
  }
}

class CollectRunInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeDialogReset();
    FakeRegistryReset();
    FakeCommReset();
    FakeClockReset();
    FakeSyncReset();
    RunRecordReset(&testRun);
    logPath = folder.File("FWLog.txt");
    UpgradeLogOpen(logPath.c_str());
    FakeDialogWindow &window = fakeDialog.windows[dialog];
    window.caption = "Quillon CXC 173 0961/1 R1A";
    window.items = {{1005, "M7120x"}, {1006, "QHW 552 08/101 R1D"}, {1007, "R1D05"}, {1008, "35 471203 015488 6"}};
  }
  void TearDown() override {
    DeviceClose(testRun.device);
    RunRecordReset(&testRun);
    UpgradeLogForget();
  }

  OsWindow dialog = (OsWindow)0x7770;
  TempFolder folder;
  std::string logPath;
};

TEST_F(CollectRunInfoTest, FillsTheSlotsAndWritesTheHeader) {
  FakeRegistryAddKey(firstKey).values.push_back(Version(OS_REG_SZ, FakeRegText("7.1.2.0")));
  FakePort &port = FakeCommAddPort("\\\\.\\COM7");
  port.driverVersion = std::string("2.9.1", 6);
  PlayModule(port, ReplyFrom({{"AT+CGMM", "\r\nM7120x\r\n\r\nOK\r\n"}}, ""));
  ASSERT_EQ(SerialDeviceOpen(&testRun.device, "\\\\.\\COM7", 9600), 0);
  RunInfo info;
  std::memset(&info, 'z', sizeof info);
  CollectRunInfo(&testRun, dialog, &info);
  const std::vector<std::string> slots = {"Quillon CXC 173 0961/1 R1A", "2.9.1", "7.1.2.0", "R1D05", "R1D06",
                                          "M7120x", "35 471203 015488 6", "QHW 552 08/101 R1D"};
  for (int i = 0; i < RUN_INFO_SLOTS; i++) {
    EXPECT_EQ(std::string(info.slot[i]), slots[i]) << "slot " << i;
    // Zeroed first: nothing of what the record held before is left behind.
    EXPECT_EQ(info.slot[i][RUN_INFO_TEXT - 1], '\0') << "slot " << i;
  }
  const std::string log = ReadBytes(logPath);
  const std::string header =
      "Quillon: Quillon CXC 173 0961/1 R1A\r\r\nDriver version: 2.9.1\r\r\nDriver package version: 7.1.2.0\r\r\n"
      "FW version: R1D05 -> R1D06\r\r\nHW version: QHW 552 08/101 R1D\r\r\n";
  ASSERT_GE(log.size(), header.size());
  EXPECT_EQ(log.substr(log.size() - header.size()), header);
  EXPECT_NE(log.find("Time: "), std::string::npos);
}

// Fields of 4000 characters and a package path of 300 fill their slots to
// 254 characters and stop there.
TEST_F(CollectRunInfoTest, CutsEveryLongTextToItsSlot) {
  const std::string path = "C:\\" + std::string(297, 'p');
  testRun.packageFile = path.c_str();
  FakeDialogWindow &window = fakeDialog.windows[dialog];
  window.caption = std::string(4000, 'c');
  for (auto &item : window.items) item.second = std::string(4000, (char)('0' + item.first % 10));
  RunInfo info;
  CollectRunInfo(&testRun, dialog, &info);
  EXPECT_EQ(std::string(info.slot[0]), std::string(254, 'c'));
  EXPECT_EQ(std::string(info.slot[1]), "") << "no device, no driver";
  EXPECT_EQ(std::string(info.slot[2]), "") << "no key";
  EXPECT_EQ(std::string(info.slot[4]), path.substr(0, 254));
  EXPECT_EQ(std::string(info.slot[3]), std::string(254, '7'));
  EXPECT_EQ(std::string(info.slot[5]), std::string(254, '5'));
  EXPECT_EQ(std::string(info.slot[6]), std::string(254, '8'));
  EXPECT_EQ(std::string(info.slot[7]), std::string(254, '6'));
}

}  // namespace
