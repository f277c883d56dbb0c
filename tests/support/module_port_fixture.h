// A test fixture with the module's device open on a fake port that plays the module.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/devices.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_sync.h"
#include "os/sync.h"
#include "serial/winserial.h"
#include "support/scripted_module.h"

class ModulePortTest : public ::testing::Test {
 protected:
  static constexpr char portPath[] = "\\\\.\\COM7";

  // The port is opened directly, without the mode probes, and the calls
  // of the open are forgotten: what a test sees is only the code under test.
  void SetUp() override {
    FakeCommReset();
    FakeClockReset();
    FakeSyncReset();
    fakeDebugLines.clear();
    port = &FakeCommAddPort(portPath);
    int connection = SerialOpen(portPath, 9600);
    ASSERT_GT(connection, 0);
    device = SerialDevice{DEVICE_KIND_SERIAL, connection, 0, OsMutexCreate()};
    fakeComm.calls.clear();
  }
  void TearDown() override {
    SerialClose(device.connection);
    OsMutexDestroy(device.mutex);
  }

  // Each call starts a new module record, so its commands are this
  // exchange's alone.
  void Answer(ModuleReply reply) { module = PlayModule(*port, std::move(reply)); }
  void AnswerAll(const std::string &text) {
    Answer([text](const std::string &) { return text; });
  }

  FakePort *port = nullptr;
  SerialDevice device{};
  std::shared_ptr<ScriptedModule> module;
};
