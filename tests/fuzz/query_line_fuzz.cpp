// Fuzz target for the first line of a reply: the echo skip on any text,
// and ATQueryLine fed by a module that plays the input (see fuzz_module.h).
//
// Byte 0 chooses: bits 0-1 the command, bits 2-4 the line's capacity, bit
// 5 the echo skip alone (the rest up to a NUL is the reply) or the query
// (the rest is the module's script).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "at/at.h"
#include "at/at_cmd.h"
#include "fuzz/fuzz_module.h"
#include "module_interface.h"

namespace {

const char target[] = "query_line_fuzz";
// The update-state query, a short one, one whose echo is itself a final
// line, and none.
const char *const commands[4] = {cmdLinkUpdateStateQuery.text, "AT", "OK", ""};
const int capacities[8] = {-1, 0, 1, 2, 40, 200, AT_QUERY_REPLY_SIZE, AT_QUERY_REPLY_SIZE + 1};
const char filler = 'Z';

void SkipEchoAlone(const char *command, const uint8_t *data, size_t size) {
  std::string reply((const char *)data, size);
  const char *text = reply.c_str();
  const char *start = ATSkipEcho(text, command);
  size_t length = std::strlen(text);
  FuzzCheck(start >= text && start <= text + length, target, "echo skip left the reply");
  FuzzCheck(start == text || std::strncmp(start - 2, moduleLineEnd, 2) == 0, target,
            "echo skip stopped anywhere but behind a line end");
}

void QueryLine(const char *command, int capacity, const uint8_t *data, size_t size) {
  FuzzModuleStart(data, size);
  // Exactly the capacity, so ASan sees a write one byte past it.
  std::vector<char> line((size_t)(capacity > 0 ? capacity : 1), filler);
  int result = ATQueryLine(fuzzDevice, command, line.data(), capacity, 4000);
  FuzzCheck(result == AT_SUCCESS || result == AT_NO_REPLY || result == AT_FAILURE, target, "result not an ATResult");
  FuzzCheck(fuzzModule.exchanges.size() == 1 && fuzzModule.exchanges[0].command == command, target,
            "not the one command");
  FuzzCheck(!fuzzModule.capReached, target, "still reading an endless stream");
  bool untouched = true;
  for (char c : line) untouched = untouched && c == filler;
  if (result != AT_SUCCESS || capacity <= 0) {
    FuzzCheck(untouched, target, "line written without a line to give");
    return;
  }
  FuzzCheck(std::memchr(line.data(), '\0', (size_t)capacity) != nullptr, target, "line not terminated");
  FuzzCheck(std::strstr(line.data(), moduleLineEnd) == nullptr, target, "line runs past its line end");
  // The line is a piece of the reply as the channel kept it.
  std::string reply = FuzzReplyText(fuzzModule.exchanges[0].delivered).substr(0, AT_QUERY_REPLY_SIZE - 1);
  FuzzCheck(reply.find(line.data()) != std::string::npos, target, "line that the reply does not hold");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzModuleScope scope;
  if (size < 1) return 0;
  const char *command = commands[data[0] & 3];
  int capacity = capacities[(data[0] >> 2) & 7];
  if (data[0] & 0x20)
    SkipEchoAlone(command, data + 1, size - 1);
  else
    QueryLine(command, capacity, data + 1, size - 1);
  return 0;
}
