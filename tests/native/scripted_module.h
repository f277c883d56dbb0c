// A fake port that plays the module for the channel's tests: each command
// line (the text written before its own CR LF write) gets the reply a
// function gives for it.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"

struct ScriptedModule {
  std::vector<std::string> commands;        // each command line, in order
  std::vector<std::string> inputAtCommand;  // what was still queued when it went out
  uint32_t tickAtCommand = 0;               // the clock when the last one went out
};

inline std::shared_ptr<ScriptedModule> PlayModule(FakePort &port,
                                                  std::function<std::string(const std::string &)> reply) {
  auto module = std::make_shared<ScriptedModule>();
  auto pending = std::make_shared<std::string>();
  port.responder = [module, pending, reply](FakePort &p, const std::string &bytes) {
    if (bytes != "\r\n") {
      *pending += bytes;
      return;
    }
    module->commands.push_back(*pending);
    module->inputAtCommand.push_back(p.input);
    module->tickAtCommand = fakeClock.tick;
    std::string command = *pending;
    pending->clear();
    p.input += reply(command);
  };
  return module;
}

// Every WriteFile's bytes, in order.
inline std::vector<std::string> WrittenChunks() {
  std::vector<std::string> writes;
  for (const FakeCommCall &call : fakeComm.calls)
    if (call.name == "WriteFile") writes.push_back(call.bytes);
  return writes;
}
