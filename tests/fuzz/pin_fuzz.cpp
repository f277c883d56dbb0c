// Fuzz target for the SIM queries: the PIN-state reply, and the code the
// user typed on its way into the entry command.
//
// Byte 0 chooses: even, the PIN-state query (the rest is the module's
// script, see fuzz_module.h); odd, a PIN entry (the rest up to a NUL is
// the code, what follows it the module's script).
#include <cstdint>
#include <cstring>
#include <string>

#include "at/at.h"
#include "at/at_cmd.h"
#include "fuzz/fuzz_module.h"
#include "module_interface.h"

namespace {

const char target[] = "pin_fuzz";
const int untouched = 77;

void QueryState(const uint8_t *data, size_t size) {
  FuzzModuleStart(data, size);
  PinState state = (PinState)untouched;
  int result = ATGetPinState(fuzzDevice, &state, cmdPinQuery.timeoutMs);
  FuzzCheck(result == AT_SUCCESS || result == AT_NO_REPLY || result == AT_FAILURE, target, "result not an ATResult");
  FuzzCheck(fuzzModule.exchanges.size() == 1 && fuzzModule.exchanges[0].command == cmdPinQuery.text, target,
            "not the one PIN query");
  FuzzCheck(!fuzzModule.capReached, target, "still reading an endless stream");
  if (result != AT_SUCCESS) {
    FuzzCheck(state == untouched, target, "state written after a failed query");
    return;
  }
  // The first of the three texts that the kept reply holds, in table
  // order, or none.
  std::string reply = FuzzReplyText(fuzzModule.exchanges[0].delivered).substr(0, AT_PIN_REPLY_SIZE - 1);
  int expected = untouched;
  for (int i = 2; i >= 0; i--)
    if (reply.find(modulePinReplies[i]) != std::string::npos) expected = i + 1;
  FuzzCheck(state == expected, target, "state is not the first one the reply names");
}

// Whether the code can travel inside the command's quotes without ending
// them or the line, and fits the 200-byte command.
bool Sendable(const std::string &code) {
  for (unsigned char c : code)
    if (c < 0x20 || c > 0x7E || c == '"') return false;
  return std::strlen(cmdPinEntry.text) + code.size() + 5 < AT_PIN_COMMAND_SIZE;  // =, two quotes, CR LF
}

void EnterPin(const uint8_t *data, size_t size) {
  const uint8_t *nul = (const uint8_t *)std::memchr(data, 0, size);
  size_t codeLength = nul != nullptr ? (size_t)(nul - data) : size;
  std::string code((const char *)data, codeLength);
  size_t scriptStart = nul != nullptr ? codeLength + 1 : size;
  FuzzModuleStart(data + scriptStart, size - scriptStart);

  int result = ATEnterPin(fuzzDevice, code.c_str(), cmdPinEntry.timeoutMs);
  FuzzCheck(result == AT_SUCCESS || result == AT_NO_REPLY || result == AT_FAILURE, target, "result not an ATResult");
  FuzzCheck(!fuzzModule.capReached, target, "still reading an endless stream");
  if (!Sendable(code)) {
    FuzzCheck(result == AT_FAILURE && fuzzModule.exchanges.empty() && fuzzModule.pendingWrite.empty(), target,
              "a code that could break out of its quotes was sent");
    return;
  }
  // The command line carries its own CR LF; the channel's ends it.
  std::string expected = std::string(cmdPinEntry.text) + "=\"" + code + "\"\r\n";
  FuzzCheck(fuzzModule.exchanges.size() == 1 && fuzzModule.exchanges[0].command == expected, target,
            "entry command not the quoted code");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzModuleScope scope;
  if (size < 1) return 0;
  if (data[0] & 1)
    EnterPin(data + 1, size - 1);
  else
    QueryState(data + 1, size - 1);
  return 0;
}
