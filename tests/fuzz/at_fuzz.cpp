// Fuzz target for the AT channel: the line reader and its final-line rules,
// fed by a module that plays the input (see fuzz_module.h).
//
// Byte 0 chooses the entry: two commands in a row (the second one's drain
// meets what the first left queued), the wait for a final line alone (as
// the update protocol calls it), or the line reader alone. Byte 1: bits
// 0-2 the buffer capacity, bits 3-4 the time-out, bits 5-6 what the device
// lock answers. The rest is the module's script.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "at/at.h"
#include "fuzz/fuzz_module.h"
#include "module_interface.h"
#include "os/sync.h"

namespace {

const char target[] = "at_fuzz";
const int capacities[8] = {0, 1, 2, 16, 200, AT_LINE_SIZE, 2048, 4000};
const int timeouts[4] = {0, 1, 1000, 4000};
const int lockResults[4] = {OS_WAIT_OBJECT_0, OS_WAIT_ABANDONED, OS_WAIT_TIMEOUT, OS_WAIT_FAILED};
const char command[] = "AT*QESFUD?";

bool StartsWith(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

enum { NOT_FINAL = -1 };

// The final-line rules as the module's interface states them: a prefix
// row, then a substring row, which wins.
int FinalCode(const std::string &line) {
  int code = NOT_FINAL;
  for (const ModuleFinalLine &row : moduleFinalPrefixes)
    if (StartsWith(line.c_str(), row.text)) {
      code = row.success ? AT_SUCCESS : AT_FAILURE;
      break;
    }
  for (const ModuleFinalLine &row : moduleFinalSubstrings)
    if (std::strstr(line.c_str(), row.text) != nullptr) {
      code = row.success ? AT_SUCCESS : AT_FAILURE;
      break;
    }
  return code;
}

void CheckExchange(int result, const std::vector<char> &reply, int capacity, const FuzzExchange &exchange) {
  FuzzCheck(result == AT_SUCCESS || result == AT_NO_REPLY || result == AT_FAILURE, target, "result not an ATResult");
  FuzzCheck(exchange.command == command, target, "wrong command written");

  // The wait ends at the first final line and at nothing before it.
  const std::vector<std::string> lines = FuzzReplyLines(exchange.delivered);
  for (size_t i = 0; i + 1 < lines.size(); i++)
    FuzzCheck(FinalCode(lines[i]) == NOT_FINAL, target, "read on past a final line");
  int last = lines.empty() ? NOT_FINAL : FinalCode(lines.back());
  if (result == AT_SUCCESS) FuzzCheck(last == AT_SUCCESS, target, "success without a success line");
  if (result == AT_FAILURE)
    FuzzCheck(exchange.readFailed || last == AT_FAILURE, target, "failure without a failing line or read");
  if (result == AT_NO_REPLY) FuzzCheck(last == NOT_FINAL, target, "a final line taken for no reply");

  if (capacity <= 0) return;
  FuzzCheck(std::memchr(reply.data(), '\0', (size_t)capacity) != nullptr, target, "reply not terminated");
  std::string expected = FuzzReplyText(exchange.delivered).substr(0, (size_t)capacity - 1);
  FuzzCheck(expected == reply.data(), target, "reply is not the lines received, RING left out, cut to the capacity");
}

void SendTwice(int capacity, int timeoutMs, int lockResult) {
  for (int round = 0; round < 2; round++) {
    size_t before = fuzzModule.exchanges.size();
    // Exactly the capacity, so ASan sees a write one byte past it.
    std::vector<char> reply((size_t)capacity, 'Z');
    int result = ATSendCmd(fuzzDevice, command, capacity > 0 ? reply.data() : nullptr, capacity, timeoutMs);
    // An abandoned lock is still held; a wait that failed holds nothing.
    bool locked = lockResult == OS_WAIT_OBJECT_0 || lockResult == OS_WAIT_ABANDONED;
    FuzzCheck(fuzzModule.unlocks == (locked ? round + 1 : 0), target, "lock not released, or released unheld");
    if (!locked) {
      FuzzCheck(result == (lockResult == OS_WAIT_TIMEOUT ? AT_NO_REPLY : AT_FAILURE), target, "lock failure result");
      FuzzCheck(fuzzModule.exchanges.size() == before, target, "sent without the lock");
      continue;
    }
    // A read that fails while stale input drains ends the exchange unsent.
    if (fuzzModule.exchanges.size() == before) {
      FuzzCheck(result == AT_FAILURE && before > 0 && fuzzModule.exchanges.back().readFailed, target,
                "exchange without its command");
      continue;
    }
    FuzzCheck(fuzzModule.exchanges.size() == before + 1, target, "not one command per exchange");
    CheckExchange(result, reply, capacity, fuzzModule.exchanges.back());
  }
}

void WaitAlone(int capacity, int timeoutMs) {
  FuzzModuleRelease();
  std::vector<char> reply((size_t)capacity, 'Z');
  int result = WaitForResponse(fuzzDevice, capacity > 0 ? reply.data() : nullptr, capacity, timeoutMs);
  FuzzExchange &exchange = fuzzModule.exchanges.back();
  exchange.command = command;  // nothing was written; judge the reply alone
  CheckExchange(result, reply, capacity, exchange);
  FuzzCheck(fuzzModule.exchanges.size() == 1, target, "the wait wrote a command");
}

// The reader alone has no bound of its own (its callers bound it), so an
// endless stream ends only at the module's cap, as silence: a small one
// here, the reader's rules show on a few lines.
void ReadLines(int capacity, int timeoutMs) {
  fuzzModule.cap = 16 * 1024;
  FuzzModuleRelease();
  std::vector<char> buffer((size_t)(capacity > 0 ? capacity : 1), 'Z');
  for (;;) {
    int count = ATReadLine(fuzzDevice, capacity > 0 ? buffer.data() : nullptr, capacity, timeoutMs);
    if (count <= 0) {
      FuzzCheck(count == 0 || count == -1, target, "line reader passed on an odd read result");
      return;
    }
    FuzzCheck(count <= capacity - 1, target, "line longer than the buffer allows");
    FuzzCheck(buffer[(size_t)count] == '\0', target, "line not terminated at its length");
    FuzzCheck(!StartsWith(buffer.data(), "RING"), target, "RING line returned");
    char last = buffer[(size_t)count - 1];
    FuzzCheck(last == '\n' || last == '\0' || count == capacity - 1, target, "line ended early");
    const void *newline = std::memchr(buffer.data(), '\n', (size_t)count - 1);
    FuzzCheck(newline == nullptr, target, "two lines returned as one");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzModuleScope scope;
  if (size < 2) return 0;
  int entry = data[0] % 3;
  int capacity = capacities[data[1] & 7];
  int timeoutMs = timeouts[(data[1] >> 3) & 3];
  int lockResult = lockResults[(data[1] >> 5) & 3];
  FuzzModuleStart(data + 2, size - 2);
  fuzzModule.lockResult = lockResult;
  if (entry == 2) {
    ReadLines(capacity, timeoutMs);
    return 0;
  }
  if (entry == 1)
    WaitAlone(capacity, timeoutMs);
  else
    SendTwice(capacity, timeoutMs, lockResult);
  FuzzCheck(!fuzzModule.capReached, target, "still reading an endless stream");
  return 0;
}
