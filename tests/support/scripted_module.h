// A fake port that plays the module: each command line gets the reply a function gives for it.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"

using ModuleReply = std::function<std::string(const std::string &command)>;

struct ScriptedModule {
  bool echo = false;                        // repeat each command line before the reply, as ATE1 does
  std::vector<std::string> commands;        // each command line, in order
  std::vector<std::string> inputAtCommand;  // what was still queued when it went out
  uint32_t tickAtCommand = 0;               // the clock when the last one went out
};

// A command line is the text written before a write of CR LF alone: the AT
// channel sends the two apart, so a line end inside a command's own text
// (as in a PIN entry) stays part of that command.
inline std::shared_ptr<ScriptedModule> PlayModule(FakePort &port, ModuleReply reply) {
  auto module = std::make_shared<ScriptedModule>();
  // The port copies its responder for each call, so what must last across
  // writes lives behind a pointer.
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
    if (module->echo) p.input += command + "\r\n";
    p.input += reply(command);
  };
  return module;
}

// Replies looked up by the whole command line; any other command gets
// `otherwise` ("" for a module that stays silent, "ERROR\r\n" for one that
// refuses).
inline ModuleReply ReplyFrom(std::map<std::string, std::string> replies, std::string otherwise) {
  return [replies = std::move(replies), otherwise = std::move(otherwise)](const std::string &command) {
    auto found = replies.find(command);
    return found == replies.end() ? otherwise : found->second;
  };
}

// Lines of 'x' ending in CR LF, `length` bytes in all (at least 2), to
// push what follows to a chosen offset in a reply. No line reaches the AT
// channel's 1023-byte piece, and none reads as a final or unsolicited line.
inline std::string PaddingLines(size_t length) {
  std::string lines;
  while (length > 102) {
    lines += std::string(98, 'x') + "\r\n";
    length -= 100;
  }
  return lines + std::string(length - 2, 'x') + "\r\n";
}

// Every WriteFile's bytes, in order.
inline std::vector<std::string> WrittenChunks() {
  std::vector<std::string> writes;
  for (const FakeCommCall &call : fakeComm.calls)
    if (call.name == "WriteFile") writes.push_back(call.bytes);
  return writes;
}
