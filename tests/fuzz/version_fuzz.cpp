// Fuzz target for reading the module's version replies: the field
// extraction on any text, and the identification built on it, fed by a
// module that plays the input (see fuzz_module.h).
//
// Byte 0 chooses: even, the extraction alone (byte 1: bits 0-2 the label,
// bits 3-5 the capacity; the rest is the text); odd, the identification
// (the rest is the module's script, one reply per version command).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_module.h"
#include "module_interface.h"
#include "version_control/identify.h"

namespace {

const char target[] = "version_fuzz";
const int capacities[8] = {1, 2, 3, 8, 64, 1024, MODULE_TEXT_SIZE, 1 << 16};
// The labels the product reads, and two that stress the search: an empty
// one and one that is the separator itself.
const char *const labels[8] = {"Model", "Product Number", "Revision", "IMEI Data", "Software Version",
                               "Build Date", "", ". "};

bool HasLineEnd(const char *text) { return std::strstr(text, moduleLineEnd) != nullptr; }

void ExtractAlone(const uint8_t *data, size_t size) {
  if (size < 1) return;
  const char *label = labels[data[0] & 7];
  int capacity = capacities[(data[0] >> 3) & 7];
  std::string text((const char *)data + 1, size - 1);  // up to its first NUL, as a reply is read

  std::vector<char> field((size_t)capacity, 'Z');
  field[(size_t)capacity - 1] = '\0';
  const std::vector<char> before = field;
  int found = ExtractField(text.c_str(), label, field.data(), capacity);
  FuzzCheck(found == 0 || found == 1, target, "ExtractField result not 0 or 1");
  if (found == 0) {
    FuzzCheck(field == before, target, "field changed without a value");
    return;
  }
  size_t length = std::strlen(field.data());  // ASan: must end inside
  FuzzCheck(length <= (size_t)capacity - 1, target, "value longer than the capacity allows");
  FuzzCheck(!HasLineEnd(field.data()), target, "value runs past its line end");
  // The value stands in the text behind the label and its ". ".
  const char *at = std::strstr(text.c_str(), label);
  FuzzCheck(at != nullptr, target, "value without its label");
  const char *stop = std::strstr(at, moduleInfoSeparator);
  FuzzCheck(stop != nullptr, target, "value without its separator");
  FuzzCheck(std::strncmp(stop + 2, field.data(), length) == 0, target, "value is not the text after the separator");
}

// A value comes from one reply as the channel keeps it.
void CheckField(const char *value, const std::vector<std::string> &replies, const char *what) {
  FuzzCheck(std::memchr(value, '\0', MODULE_TEXT_SIZE) != nullptr, target, what);
  FuzzCheck(!HasLineEnd(value), target, "field runs past its line end");
  bool found = false;
  for (const std::string &reply : replies) found = found || reply.find(value) != std::string::npos;
  FuzzCheck(found, target, "field that no reply holds");
}

void Identify(const uint8_t *data, size_t size) {
  FuzzModuleStart(data, size);
  ModuleInfo info = IdentifyModule(fuzzDevice);

  // The commands go out in their one order, each at most once.
  static const char *const order[3] = {cmdVersionQuery.text, cmdVersionQuery2.text, cmdVersionQueryOld.text};
  const std::vector<FuzzExchange> &sent = fuzzModule.exchanges;
  FuzzCheck(!sent.empty() && sent.size() <= 3, target, "not one to three version commands");
  FuzzCheck(sent[0].command == order[0], target, "first command is not the version query");
  if (sent.size() == 3)
    FuzzCheck(sent[1].command == order[1] && sent[2].command == order[2], target, "commands out of order");
  if (sent.size() == 2)
    FuzzCheck(sent[1].command == order[1] || sent[1].command == order[2], target, "second command unknown");
  FuzzCheck(!fuzzModule.capReached, target, "still reading an endless stream");

  std::vector<std::string> replies;
  for (const FuzzExchange &exchange : sent)
    replies.push_back(FuzzReplyText(exchange.delivered).substr(0, IDENTIFY_REPLY_SIZE - 1));
  if (std::strcmp(info.model, NoModuleFound) != 0) CheckField(info.model, replies, "model not terminated");
  CheckField(info.productNumber, replies, "product number not terminated");
  CheckField(info.revision, replies, "revision not terminated");
  CheckField(info.imei, replies, "IMEI not terminated");
  CheckField(info.softwareVersion, replies, "software version not terminated");
  CheckField(info.buildDate, replies, "build date not terminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzModuleScope scope;
  if (size < 1) return 0;
  if (data[0] & 1)
    Identify(data + 1, size - 1);
  else
    ExtractAlone(data + 1, size - 1);
  return 0;
}
