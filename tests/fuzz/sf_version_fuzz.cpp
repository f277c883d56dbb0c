// Fuzz target for the update-mode query's version parse, alone and inside
// the link's opening, fed by a module that plays the input (see
// fuzz_module.h).
//
// Byte 0 chooses: bit 0 the version query alone or the whole opening;
// bits 1-3 the open kind (0 to 7; 4 and above are no kind).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "at/at.h"
#include "fuzz/fuzz_module.h"
#include "module_interface.h"
#include "update/sf_link.h"

namespace {

const char target[] = "sf_version_fuzz";
const uint32_t untouched = 0xDEADBEEF;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Whether some "0x" in the text is followed by digits worth `value`.
bool NamesNumber(const std::string &text, uint32_t value) {
  for (size_t at = text.find("0x"); at != std::string::npos; at = text.find("0x", at + 1)) {
    uint64_t number = 0;
    size_t i = at + 2;
    for (; i < text.size() && HexDigit(text[i]) >= 0 && number <= UINT32_MAX; i++)
      number = number * 16 + (uint64_t)HexDigit(text[i]);
    if (number == value) return true;
  }
  return false;
}

void QueryAlone() {
  uint32_t version = untouched;
  int result = SFQueryVersion(fuzzDevice, &version, MODULE_LINK_TIMEOUT_MS);
  FuzzCheck(result == AT_SUCCESS || result == AT_NO_REPLY || result == AT_FAILURE, target, "result not an ATResult");
  FuzzCheck(fuzzModule.exchanges.size() == 1 && fuzzModule.exchanges[0].command == cmdLinkUpdateStateQuery.text,
            target, "not the one update-state query");
  FuzzCheck(!fuzzModule.capReached, target, "still reading an endless stream");
  if (result != AT_SUCCESS) {
    FuzzCheck(version == untouched, target, "version written after a failed query");
    return;
  }
  std::string reply = FuzzReplyText(fuzzModule.exchanges[0].delivered);
  FuzzCheck(reply.find(moduleProtocolVersionLabel) != std::string::npos, target, "a version without its label");
  FuzzCheck(NamesNumber(reply, version), target, "a version the reply does not name");
}

// Without endless streams: on one the opening's 24 commands would each
// drain 64 KiB and wait three minutes, a run of a tenth of a second that
// the channel's own target already covers.
void Open(unsigned kind) {
  fuzzModule.endlessAllowed = false;
  SFProtocolVersion = untouched;
  int result = SFOpen(fuzzDevice, kind, nullptr);
  FuzzCheck(result == 0 || result == -1, target, "SFOpen gives neither 0 nor -1");
  FuzzCheck(!fuzzModule.capReached, target, "still reading an endless stream");

  // "ATE0", the polls, then for kind 0 the version query and the switch.
  const std::vector<FuzzExchange> &sent = fuzzModule.exchanges;
  FuzzCheck(!sent.empty() && sent[0].command == cmdEchoOff.text, target, "the link does not start with ATE0");
  size_t polls = 0;
  while (1 + polls < sent.size() && sent[1 + polls].command == cmdLinkUpdateStateQuery.text) polls++;
  FuzzCheck(polls <= 22, target, "more polls than 21 and the version query");
  if (result == 0) {
    FuzzCheck(kind <= 3 && polls >= 1, target, "opened without a kind or a poll");
    FuzzCheck(sent.back().command == cmdUpdateModeSwitch[kind == 0 ? 2 : kind - 1].text, target,
              "opened without its mode switch");
  }
  if (SFProtocolVersion != untouched) {
    FuzzCheck(kind == 0, target, "only the opening of kind 0 learns the version");
    // Each reply on its own: joined, the digits that end one ("0x000")
    // and the letters that start the next ("ersi") read as another number.
    bool named = false;
    for (const FuzzExchange &exchange : sent)
      named = named || NamesNumber(FuzzReplyText(exchange.delivered), SFProtocolVersion);
    FuzzCheck(named, target, "a version no reply names");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzModuleScope scope;
  if (size < 1) return 0;
  FuzzModuleStart(data + 1, size - 1);
  if (data[0] & 1)
    Open((data[0] >> 1) & 7);
  else
    QueryAlone();
  return 0;
}
