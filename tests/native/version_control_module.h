// A module on a fake serial port that answers the version commands from a
// table, for the identification and version-check tests.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "devices.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_sync.h"
#include "os/sync.h"
#include "winserial.h"

struct VersionModule {
  std::map<std::string, std::string> replies;  // command -> reply; others get "ERROR\r\n", "" stays silent
  std::vector<std::string> commands;           // every command line received, in order
  bool echo = false;
  SerialDevice device{};
  std::string line;  // written bytes up to the line end (the port copies its responder per call)

  // Opens the port directly, without the mode probes, so the commands seen
  // are only those of the code under test.
  void Open() {
    commands.clear();
    line.clear();
    FakeCommReset();
    FakeClockReset();
    FakeSyncReset();
    FakePort &port = FakeCommAddPort("\\\\.\\COM9");
    port.responder = [this](FakePort &p, const std::string &written) {
      line += written;
      if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) return;
      std::string command = line.substr(0, line.size() - 2);
      line.clear();
      commands.push_back(command);
      if (echo) p.input += command + "\r\n";
      auto reply = replies.find(command);
      p.input += reply != replies.end() ? reply->second : "ERROR\r\n";
    };
    device = SerialDevice{Serial, SerialOpen("\\\\.\\COM9", 9600), 0, OsMutexCreate()};
  }

  void Close() {
    SerialClose(device.connection);
    OsMutexDestroy(device.mutex);
  }
};
