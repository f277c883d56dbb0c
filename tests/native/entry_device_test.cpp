// The entry's module device: opened by name, as the simulator or by
// discovery, and closed again before the program exits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry.h"
#include "app/state.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_devenum.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_sync.h"
#include "fakes/fake_ui.h"
#include "scripted_module.h"
#include "simulator.h"
#include "temp_files.h"
#include "trace_lines.h"

namespace {

const char com7[] = "\\\\.\\COM7";

// Runs in a folder of its own: natively "C:\FWLog.txt" is a file name there.
class EntryDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFakes();
    ResetProcessState();
    ASSERT_TRUE(folder.Enter());
  }
  void TearDown() override {
    ResetFakes();
    ResetProcessState();
  }
  static void ResetFakes() {
    FakeClockReset();
    FakeUiReset();
    FakeCommReset();
    FakeSyncReset();
    FakeDevEnumReset();
    FakeRegistryReset();
    SimulatorReset();
    fakeDebugLines.clear();
  }
  // A module in AT mode on the port.
  static std::shared_ptr<ScriptedModule> Module(const char *path) {
    return PlayModule(FakeCommAddPort(path), ReplyFrom({{"AT+CGMM", "\r\nM7120x\r\n\r\nOK\r\n"}}, ""));
  }

  // Registry calls of port discovery: all but the connection manager's
  // key, which every run looks for.
  static size_t DiscoveryRegistryCalls() {
    size_t count = 0;
    for (const FakeRegCall &call : fakeRegistry.calls)
      if (call.key.find("\\Corvin\\") == std::string::npos) count++;
    return count;
  }

  TempFolder folder;
};

TEST_F(EntryDeviceTest, OpensTheNamedPortAndClosesItAtExit) {
  auto module = Module(com7);
  QuillonMain("-q -t COM7");
  const FakeCommCall *open = FakeCommLast("CreateFileA");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->bytes, com7);
  EXPECT_EQ(module->commands, std::vector<std::string>{"AT+CGMM"});
  EXPECT_TRUE(Traced("C module"));
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_TRUE(fakeComm.handles.empty());
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);
  EXPECT_EQ(theDevice, nullptr);
}

TEST_F(EntryDeviceTest, OpensTheSimulatorWithoutAPort) {
  QuillonMain("-q -t SIMULATOR");
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_EQ(DiscoveryRegistryCalls(), 0u) << "no discovery";
  EXPECT_TRUE(Traced("deviceStatusBits = 00000000"));
  EXPECT_EQ(fakeSync.created, 1);
  EXPECT_EQ(fakeSync.destroyed, 1);
  EXPECT_EQ(theDevice, nullptr);
}

TEST_F(EntryDeviceTest, FindsTheModuleByDiscoveryWithoutAPortName) {
  auto module = Module(com7);
  FakeRegKey &key = FakeRegistryAddKey("HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM");
  key.values.push_back({"\\Device\\mdm0", OS_REG_SZ, FakeRegText("COM7")});
  QuillonMain("-q");
  EXPECT_TRUE(Traced("Try to open device 0 of 1 found\n"));
  EXPECT_EQ(module->commands, std::vector<std::string>{"AT+CGMM"});
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);
}

TEST_F(EntryDeviceTest, GoesOnWhenTheNamedPortDoesNotOpen) {
  QuillonMain("-q -t COM9");
  EXPECT_EQ(FakeCommCount("CreateFileA"), 1);
  EXPECT_EQ(DiscoveryRegistryCalls(), 0u) << "a named port is not looked for elsewhere";
  EXPECT_EQ(fakeSync.created, 0);
  EXPECT_EQ(theDevice, nullptr);
}

TEST_F(EntryDeviceTest, OpensNothingWhenTheCommandLineEndsTheRun) {
  Module(com7);
  QuillonMain("-t LPT1");
  QuillonMain("-h -t COM7");
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_TRUE(fakeRegistry.calls.empty());
}

}  // namespace
