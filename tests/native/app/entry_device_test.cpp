// The entry's module device: opened by name, as the simulator or by
// discovery, and closed again before the program exits.
#include <gtest/gtest.h>

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
#include "support/scripted_module.h"
#include "support/shared_texts.h"
#include "support/temp_files.h"
#include "support/test_run.h"
#include "support/trace_lines.h"

namespace {

const char serialComm[] = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Runs in a folder of its own: natively "C:\FWLog.txt" is a file name there.
class EntryDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakes();
    RunRecordReset(&testRun);
    ASSERT_TRUE(folder.Enter());
  }
  void TearDown() override {
    ResetFakes();
    RunRecordReset(&testRun);
  }
  static void ResetFakes() {
    ResetAllFakes();
  }
  // Whether discovery read the registry's serial ports.
  static bool Discovered() {
    for (const FakeRegCall &call : fakeRegistry.calls)
      if (call.key == serialComm) return true;
    return false;
  }
  // A module in AT mode on the port.
  static std::shared_ptr<ScriptedModule> Module(const char *path) {
    return PlayModule(FakeCommAddPort(path), ReplyFrom({{"AT+CGMM", "\r\nM7120x\r\n\r\nOK\r\n"}}, ""));
  }

  TempFolder folder;
};

// The main dialog asks the device the entry opened: the port is opened
// once, and closed once at exit.
TEST_F(EntryDeviceTest, OpensTheNamedPortAndClosesItAtExit) {
  auto module = Module(com7);
  QuillonRun(&testRun, "-q -t COM7");
  EXPECT_EQ(FakeCommCount("CreateFileA"), 1);
  const FakeCommCall *open = FakeCommLast("CreateFileA");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->bytes, com7);
  ASSERT_GE(module->commands.size(), 2u);
  EXPECT_EQ(module->commands[0], "AT+CGMM");
  EXPECT_EQ(module->commands[1], "AT*QVERS") << "the main dialog identifies on the open port";
  EXPECT_TRUE(Traced("C module"));
  EXPECT_FALSE(Discovered());
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_TRUE(fakeComm.handles.empty());
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);
  EXPECT_EQ(testRun.device, nullptr);
}

TEST_F(EntryDeviceTest, OpensTheSimulatorWithoutAPort) {
  QuillonRun(&testRun, "-q -t SIMULATOR");
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_FALSE(Discovered()) << "the simulator answers the main dialog's first poll";
  EXPECT_TRUE(Traced("deviceStatusBits = 00000000"));
  EXPECT_EQ(fakeSync.created, 1);
  EXPECT_EQ(fakeSync.destroyed, 1);
  EXPECT_EQ(testRun.device, nullptr);
}

TEST_F(EntryDeviceTest, FindsTheModuleByDiscoveryWithoutAPortName) {
  auto module = Module(com7);
  FakeRegKey &key = FakeRegistryAddKey(serialComm);
  key.values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
  QuillonRun(&testRun, "-q");
  EXPECT_TRUE(Traced("Try to open device 0 of 1 found\n"));
  ASSERT_FALSE(module->commands.empty());
  EXPECT_EQ(module->commands[0], "AT+CGMM");
  EXPECT_EQ(FakeCommCount("CreateFileA"), 1) << "the device found is the one the dialog asks";
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);
}

// The entry does not look elsewhere for a named port that does not open;
// the main dialog's poll then does, by discovery.
TEST_F(EntryDeviceTest, GoesOnWhenTheNamedPortDoesNotOpen) {
  auto module = Module(com7);
  FakeRegKey &key = FakeRegistryAddKey(serialComm);
  key.values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
  QuillonRun(&testRun, "-q -t COM9");
  std::vector<std::string> opened;
  for (const FakeCommCall &call : fakeComm.calls)
    if (call.name == "CreateFileA") opened.push_back(call.bytes);
  EXPECT_EQ(opened, (std::vector<std::string>{"\\\\.\\COM9", com7}));
  EXPECT_TRUE(Discovered());
  ASSERT_FALSE(module->commands.empty());
  EXPECT_EQ(module->commands[0], "AT+CGMM");
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);
  EXPECT_EQ(testRun.device, nullptr);
}

TEST_F(EntryDeviceTest, OpensNothingWhenTheCommandLineEndsTheRun) {
  Module(com7);
  QuillonRun(&testRun, "-t LPT1");
  QuillonRun(&testRun, "-h -t COM7");
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_TRUE(fakeRegistry.calls.empty());
}

}  // namespace
