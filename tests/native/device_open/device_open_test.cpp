// Device open and mode detection over fake ports that play the module,
// and discovery over scripted candidates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "device/devices.h"
#include "device/simulator.h"
#include "device_open/device_open.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_devenum.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_sync.h"
#include "os/sync.h"
#include "support/scripted_module.h"
#include "support/shared_texts.h"
#include "support/trace_lines.h"

namespace {

const char serialComm[] = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

class DeviceOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFakes(); }
  void TearDown() override {
    DeviceClose(device);
    // No port, responder or registry value outlives the test.
    ResetFakes();
  }
  static void ResetFakes() {
    FakeCommReset();
    FakeClockReset();
    FakeSyncReset();
    FakeDevEnumReset();
    FakeRegistryReset();
    SimulatorReset();
    fakeDebugLines.clear();
  }

  // A port whose module answers the two probes from a table; a command
  // that is not in it gets silence.
  static std::shared_ptr<ScriptedModule> Module(const std::string &path,
                                                std::map<std::string, std::string> replies) {
    return PlayModule(FakeCommAddPort(path), ReplyFrom(std::move(replies), ""));
  }

  static void RegistryPorts(const std::vector<std::pair<std::string, std::string>> &values) {
    FakeRegKey &key = FakeRegistryAddKey(serialComm);
    for (const auto &value : values) key.values.push_back({value.first, OS_REG_SZ, FakeRegText(value.second)});
  }

  // The messages this module traced, without the trace's own line end. A
  // connection number depends on what else is open in the process, so
  // "FD opened" with a positive number reads "FD opened N".
  static std::vector<std::string> DeviceTrace() {
    std::vector<std::string> messages;
    for (TraceEntry &entry : Traces()) {
      if (entry.source != "..\\..\\..\\src\\devices") continue;
      EXPECT_EQ(entry.function, "SerialDeviceOpen") << entry.message;
      EXPECT_EQ(entry.level, "INFO") << entry.message;
      std::string &message = entry.message;
      if (message.rfind("FD opened ", 0) == 0 && std::atoi(message.c_str() + 10) > 0) message = "FD opened N";
      messages.push_back(message);
    }
    return messages;
  }

  SerialDevice *device = nullptr;
};

const char cgmm[] = "AT+CGMM";
const char vers[] = "vers=1";

struct ProbeRow {
  const char *name;
  std::map<std::string, std::string> replies;
  int result;
  uint32_t bits;
  std::vector<std::string> commands;
  std::vector<std::string> trace;
  // Virtual time the open took: a second, one read attempt, for each probe
  // the module left unanswered.
  uint32_t waitedMs;
};

TEST_F(DeviceOpenTest, TellsTheModulesModeFromTheProbes) {
  const ProbeRow rows[] = {
      {"C6640 in AT mode",
       {{cgmm, "\r\nCorvin Wireless C6640\r\n\r\nOK\r\n"}},
       0,
       DEVICE_STATUS_MODEL_MATCH,
       {cgmm},
       {"FD opened N", "Dev [\\\\.\\COM7] opened\n", "AT mode found", "C module", "deviceStatusBits = 00000000\n",
        "deviceStatusBits = 00000002\n"},
       0},
      {"M7120x echoing its command",
       {{cgmm, "AT+CGMM\r\nM7120x\r\n\r\nOK\r\n"}},
       0,
       DEVICE_STATUS_MODEL_MATCH,
       {cgmm},
       {"FD opened N", "Dev [\\\\.\\COM7] opened\n", "AT mode found", "C module", "deviceStatusBits = 00000000\n",
        "deviceStatusBits = 00000002\n"},
       0},
      {"another modem is taken too",
       {{cgmm, "\r\nOtherModem 3G\r\n\r\nOK\r\n"}},
       0,
       0,
       {cgmm},
       {"FD opened N", "Dev [\\\\.\\COM7] opened\n", "AT mode found", "deviceStatusBits = 00000000\n",
        "deviceStatusBits = 00000000\n"},
       0},
      {"update mode: AT probe refused",
       {{cgmm, "ERROR\r\n"}, {vers, "OK\r\n"}},
       0,
       DEVICE_STATUS_UPDATE_MODE,
       {cgmm, vers},
       {"FD opened N", "Dev [\\\\.\\COM7] opened\n", "ITP mode found", "deviceStatusBits = 00000001\n",
        "deviceStatusBits = 00000001\n"},
       0},
      {"update mode: AT probe unanswered",
       {{vers, "OK\r\n"}},
       0,
       DEVICE_STATUS_UPDATE_MODE,
       {cgmm, vers},
       {"FD opened N", "Dev [\\\\.\\COM7] opened\n", "ITP mode found", "deviceStatusBits = 00000001\n",
        "deviceStatusBits = 00000001\n"},
       1000},
      {"silent port", {}, -2, 0, {cgmm, vers}, {"FD opened N", "Dev [\\\\.\\COM7] opened\n"}, 2000},
      {"both probes refused",
       {{cgmm, "ERROR\r\n"}, {vers, "ERROR\r\n"}},
       -2,
       0,
       {cgmm, vers},
       {"FD opened N", "Dev [\\\\.\\COM7] opened\n"},
       0},
  };
  for (const ProbeRow &row : rows) {
    ResetFakes();
    auto module = Module(com7, row.replies);
    SerialDevice *opened = nullptr;
    const uint32_t start = fakeClock.tick;
    EXPECT_EQ(SerialDeviceOpen(&opened, com7, 9600), row.result) << row.name;
    EXPECT_EQ(module->commands, row.commands) << row.name;
    // The port's own settling pauses aside, the time went on read attempts.
    uint32_t paused = 0;
    for (int pause : fakeClock.sleeps) paused += (uint32_t)pause;
    EXPECT_EQ(fakeClock.tick - start - paused, row.waitedMs) << row.name;
    int emptyReads = 0;
    for (const FakeCommCall &call : fakeComm.calls)
      if (call.name == "ReadFile" && call.result.empty()) emptyReads++;
    EXPECT_EQ(emptyReads, (int)(row.waitedMs / 1000)) << row.name << ": one attempt per unanswered probe";
    EXPECT_EQ(DeviceTrace(), row.trace) << row.name;
    const FakePort &port = fakeComm.ports[com7];
    if (row.result == 0) {
      ASSERT_NE(opened, nullptr) << row.name;
      EXPECT_EQ(opened->kind, DEVICE_KIND_SERIAL) << row.name;
      EXPECT_GT(opened->connection, 0) << row.name;
      EXPECT_EQ(opened->deviceStatusBits, row.bits) << row.name;
      EXPECT_EQ(port.closes, 0) << row.name;
      // The probe's own lock is gone; the device's is the one left.
      EXPECT_EQ(fakeSync.created - fakeSync.destroyed, 1) << row.name;
    } else {
      EXPECT_EQ(opened, nullptr) << row.name;
      EXPECT_EQ(port.closes, 1) << row.name;
      EXPECT_EQ(fakeSync.created, fakeSync.destroyed) << row.name << ": the probe's lock leaked";
    }
    DeviceClose(opened);
    EXPECT_EQ(fakeComm.ports[com7].closes, 1) << row.name;
  }
}

TEST_F(DeviceOpenTest, ReportsAPortThatCannotBeOpened) {
  EXPECT_EQ(SerialDeviceOpen(&device, com7, 9600), DEVICE_OPEN_FAILED);  // no such port
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(DeviceTrace(), std::vector<std::string>{"FD opened 0"});
  EXPECT_EQ(fakeSync.created, 0);

  EXPECT_EQ(SerialDeviceOpen(nullptr, com7, 9600), DEVICE_OPEN_NO_SLOT);
  EXPECT_EQ(FakeCommCount("CreateFileA"), 1) << "no slot: nothing tried";
}

TEST_F(DeviceOpenTest, OpensTheSimulatorWithoutAPortOrACommand) {
  ASSERT_EQ(SerialDeviceOpen(&device, "SIMULATOR", 9600), 0);
  EXPECT_EQ(device->kind, DEVICE_KIND_SIMULATOR);
  EXPECT_EQ(device->connection, 500);
  EXPECT_EQ(device->deviceStatusBits, 0u);
  EXPECT_TRUE(fakeComm.calls.empty());
  // The name is exact.
  SerialDevice *other = nullptr;
  EXPECT_EQ(SerialDeviceOpen(&other, "simulator", 9600), DEVICE_OPEN_FAILED);
  EXPECT_EQ(other, nullptr);
}

TEST_F(DeviceOpenTest, TakesTheFirstCandidateThatAnswers) {
  Module("\\\\.\\COM7", {{cgmm, "\r\nC6640\r\n\r\nOK\r\n"}});
  Module("\\\\.\\COM8", {{cgmm, "OK\r\n"}});
  RegistryPorts({{"\\Device\\mdm0", "COM3"}, {"\\Device\\Serial0", "COM1"}, {"\\Device\\mdm1", "COM7"},
                 {"\\Device\\mdm2", "COM8"}});

  device = SerialDeviceOpenAuto();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->deviceStatusBits, (uint32_t)DEVICE_STATUS_MODEL_MATCH);
  const std::vector<std::string> trace = DeviceTrace();
  ASSERT_GE(trace.size(), 3u);
  EXPECT_EQ(trace[0], "Try to open device 0 of 3 found\n");
  EXPECT_EQ(trace[1], "FD opened 0");  // COM3 is absent
  EXPECT_EQ(trace[2], "Try to open device 1 of 3 found\n");
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "Try to open device 2 of 3 found\n"), 0);
  EXPECT_EQ(fakeComm.ports["\\\\.\\COM8"].opens, 0) << "a later candidate is not opened";

  // The device reads and writes the port that answered.
  EXPECT_EQ(DeviceWrite(device, "AT", 2), 2);
  EXPECT_EQ(fakeComm.ports[com7].written, "AT+CGMM\r\nAT");
}

TEST_F(DeviceOpenTest, FindsNothingWhenNoCandidateAnswers) {
  Module("\\\\.\\COM7", {});
  RegistryPorts({{"\\Device\\mdm0", "COM3"}, {"\\Device\\mdm1", "COM7"}});
  EXPECT_EQ(SerialDeviceOpenAuto(), nullptr);
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);

  FakeRegistryReset();  // no candidate at all
  fakeDebugLines.clear();
  EXPECT_EQ(SerialDeviceOpen(&device, "", 9600), DEVICE_OPEN_NONE_FOUND);
  EXPECT_EQ(device, nullptr);
  EXPECT_TRUE(DeviceTrace().empty());
}

// Why nothing opened: a port another program holds is told from one that
// is absent or silent, by name and among discovery's candidates.
TEST_F(DeviceOpenTest, SaysWhyNothingOpened) {
  auto module = Module(com7, {{cgmm, "OK\r\n"}});
  fakeComm.ports[com7].heldElsewhere = true;
  EXPECT_EQ(SerialDeviceOpen(&device, com7, 9600), DEVICE_OPEN_BUSY);
  EXPECT_EQ(device, nullptr);

  // A busy candidate outweighs an absent one, wherever it comes.
  RegistryPorts({{"\\Device\\mdm0", "COM7"}, {"\\Device\\mdm1", "COM3"}});
  DeviceOpenResult result = DEVICE_OPEN_OK;
  EXPECT_EQ(SerialDeviceOpenAuto(&result), nullptr);
  EXPECT_EQ(result, DEVICE_OPEN_BUSY);

  // Released, it answers.
  fakeComm.ports[com7].heldElsewhere = false;
  device = SerialDeviceOpenNamed("\\\\.\\COM7", &result);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(result, DEVICE_OPEN_OK);
  DeviceClose(device);
  device = nullptr;

  // Only absent candidates: failed, not busy; no candidate: none found.
  FakeRegistryReset();
  RegistryPorts({{"\\Device\\mdm1", "COM3"}});
  EXPECT_EQ(SerialDeviceOpenAuto(&result), nullptr);
  EXPECT_EQ(result, DEVICE_OPEN_FAILED);
  FakeRegistryReset();
  EXPECT_EQ(SerialDeviceOpenNamed(nullptr, &result), nullptr);
  EXPECT_EQ(result, DEVICE_OPEN_NONE_FOUND);
}

TEST_F(DeviceOpenTest, ReopensIntoTheSameDeviceKeepingItsLockAndBits) {
  auto module = Module(com7, {{vers, "OK\r\n"}});
  ASSERT_EQ(SerialDeviceOpen(&device, com7, 9600), 0);
  ASSERT_EQ(device->deviceStatusBits, (uint32_t)DEVICE_STATUS_UPDATE_MODE);
  SerialDevice *first = device;
  OsMutex lock = device->mutex;

  // The module restarted into AT mode. The open is exclusive, so the old
  // connection must be given up before the port can be opened again.
  module = PlayModule(fakeComm.ports[com7], ReplyFrom({{cgmm, "\r\nC6640\r\n\r\nOK\r\n"}}, ""));
  EXPECT_EQ(SerialDeviceOpen(&device, com7, 9600), 0);
  EXPECT_EQ(device, first);
  EXPECT_EQ(device->mutex, lock);
  EXPECT_EQ(device->deviceStatusBits, (uint32_t)(DEVICE_STATUS_UPDATE_MODE | DEVICE_STATUS_MODEL_MATCH));
  EXPECT_EQ(device->kind, DEVICE_KIND_SERIAL);
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_EQ(fakeComm.handles.size(), 1u) << "one port handle open, not two";
}

TEST_F(DeviceOpenTest, AFailedReopenLeavesTheDeviceWithoutAConnection) {
  Module(com7, {{cgmm, "OK\r\n"}});
  ASSERT_EQ(SerialDeviceOpen(&device, com7, 9600), 0);
  SerialDevice *first = device;
  FakeCommVanish(com7, FAKE_VANISH_WINDOWS);

  EXPECT_EQ(SerialDeviceOpen(&device, com7, 9600), DEVICE_OPEN_FAILED);
  EXPECT_EQ(device, first);
  EXPECT_EQ(device->connection, 0);
  EXPECT_EQ(device->kind, DEVICE_KIND_SERIAL);
  char byte;
  EXPECT_EQ(DeviceRead(device, &byte, 1, 1000), -1);
  EXPECT_EQ(DeviceWrite(device, "AT", 2), -1);
  EXPECT_TRUE(fakeComm.handles.empty()) << "the old handle was closed";

  // Discovery that finds nothing leaves it the same way.
  FakeCommReplug(com7);
  ASSERT_EQ(SerialDeviceOpen(&device, com7, 9600), 0);
  EXPECT_EQ(SerialDeviceOpen(&device, nullptr, 9600), DEVICE_OPEN_NONE_FOUND);
  EXPECT_EQ(device, first);
  EXPECT_EQ(device->connection, 0);
  EXPECT_TRUE(fakeComm.handles.empty());
}

TEST_F(DeviceOpenTest, SwitchesAnOpenSerialDeviceToTheSimulator) {
  Module(com7, {{cgmm, "OK\r\n"}});
  ASSERT_EQ(SerialDeviceOpen(&device, com7, 9600), 0);
  EXPECT_EQ(SerialDeviceOpen(&device, "SIMULATOR", 9600), 0);
  EXPECT_EQ(device->kind, DEVICE_KIND_SIMULATOR);
  EXPECT_EQ(device->connection, 500);
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
}

TEST_F(DeviceOpenTest, FailsWhenTheDeviceCannotHaveItsLock) {
  Module(com7, {{cgmm, "OK\r\n"}});
  fakeSync.failCreate = 1;
  EXPECT_EQ(SerialDeviceOpen(&device, com7, 9600), DEVICE_OPEN_FAILED);
  EXPECT_EQ(device, nullptr);
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_EQ(SerialDeviceOpen(&device, "SIMULATOR", 9600), DEVICE_OPEN_FAILED);
  EXPECT_EQ(device, nullptr);
}

TEST_F(DeviceOpenTest, ClosesThePortAndTheLockWithTheDevice) {
  Module(com7, {{cgmm, "OK\r\n"}});
  ASSERT_EQ(SerialDeviceOpen(&device, com7, 9600), 0);
  DeviceClose(device);
  device = nullptr;
  EXPECT_EQ(fakeComm.ports[com7].closes, 1);
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);

  fakeComm.calls.clear();
  ASSERT_EQ(SerialDeviceOpen(&device, "SIMULATOR", 9600), 0);
  DeviceClose(device);
  device = nullptr;
  EXPECT_TRUE(fakeComm.calls.empty()) << "the simulator has no port to close";
  EXPECT_EQ(fakeSync.created, fakeSync.destroyed);
}

TEST_F(DeviceOpenTest, AsksTheSerialDriverForItsVersion) {
  Module(com7, {{cgmm, "OK\r\n"}});
  fakeComm.ports[com7].driverVersion = "6.2.0.17";
  ASSERT_EQ(SerialDeviceOpen(&device, com7, 9600), 0);
  char text[255] = {};
  DeviceGetDriverVersion(device, text, (int)sizeof text);
  EXPECT_STREQ(text, "6.2.0.17");

  SerialDevice *simulated = nullptr;
  ASSERT_EQ(SerialDeviceOpen(&simulated, "SIMULATOR", 9600), 0);
  std::strcpy(text, "stale");
  DeviceGetDriverVersion(simulated, text, (int)sizeof text);
  EXPECT_STREQ(text, "") << "500 is no serial connection";
  DeviceClose(simulated);
}

}  // namespace
