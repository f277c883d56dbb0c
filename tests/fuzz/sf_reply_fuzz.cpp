// Fuzz target for the assignment exchange's reply judge, in both header
// forms, and the header it builds.
//
// Byte 0 chooses the form (bit 0) and whether the read brought all 24
// bytes (bit 1; else byte 1 says how many, or a failed read); the next 24
// bytes are the reply, zero where the input runs short, as a port leaves
// bytes that did not arrive. The last four bytes also serve as a payload
// length and the progress pair.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "update/sf_header.h"
#include "update/sf_library.h"

namespace {

const char target[] = "sf_reply_fuzz";

bool HoldsErrorText(const unsigned char *reply) {
  size_t length = strnlen((const char *)reply, MODULE_HEADER_SIZE);
  for (size_t start = 0; start + 5 <= length; start++)
    if (std::memcmp(reply + start, "ERROR", 5) == 0) return true;
  return false;
}

void CheckJudgement(const unsigned char *reply, int received, SFHeaderForm form) {
  SFReplyJudgement judged = SFJudgeReply(reply, received, form);
  const int codes[] = {SFLIB_OK, SFLIB_REJECTED, SFLIB_REJECTED_4, SFLIB_REJECTED_3, SFLIB_REJECTED_OTHER};
  bool known = false;
  for (int code : codes) known = known || judged.result == code;
  FuzzCheck(known, target, "result is no assignment code");
  FuzzCheck((judged.verdict == SF_REPLY_ACCEPTED) == (judged.result == SFLIB_OK), target,
            "accepted and success disagree");
  if (HoldsErrorText(reply))
    FuzzCheck(judged.verdict == SF_REPLY_ERROR_TEXT && judged.result == SFLIB_REJECTED, target,
              "ERROR in the reply's text not taken for an error");
  if (judged.verdict != SF_REPLY_ACCEPTED) return;
  FuzzCheck(received == MODULE_HEADER_SIZE, target, "a short or failed read accepted");
  if (form != SF_FORM_MAGIC) return;
  uint32_t resultCode = SFHeaderFieldValue(reply, SF_FIELD_RESULT_CODE);
  FuzzCheck(std::memcmp(reply, "ZMRK", 4) == 0 && resultCode <= 1, target, "a NACK of the magic form accepted");
}

// What was built reads back field by field, and a module that echoes it
// is accepted in the form it was built in.
void CheckBuilt(SFHeaderForm form, uint32_t payload) {
  std::vector<unsigned char> bytes(MODULE_HEADER_SIZE);
  SFHeader header;
  FuzzCheck(SFBuildHeader(&header, form, payload) == MODULE_HEADER_SIZE, target, "header length");
  std::memcpy(bytes.data(), header.bytes, MODULE_HEADER_SIZE);
  FuzzCheck(SFHeaderFieldValue(bytes.data(), SF_FIELD_PAYLOAD) == payload, target, "payload does not read back");
  FuzzCheck(SFHeaderFieldValue(bytes.data(), SF_FIELD_SEQ_NR) == 0xFFFFFFFFu, target, "sequence number");
  SFReplyJudgement echoed = SFJudgeReply(bytes.data(), MODULE_HEADER_SIZE, form);
  FuzzCheck(echoed.verdict == SF_REPLY_ACCEPTED, target, "an echoed request is not accepted");
}

// Over the pairs a transfer can have: 0 <= acknowledged <= total.
void CheckPercent(int32_t acknowledged, int32_t total) {
  if (acknowledged < 0 || acknowledged > total) return;
  int percent = SFPercentOf(acknowledged, total);
  int64_t expected = total == 0 ? 0 : (int64_t)acknowledged * 100 / total;
  FuzzCheck(percent == expected && percent >= 0 && percent <= 100, target,
            "percent is not acknowledged * 100 / total");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  SFHeaderForm form = (data[0] & 1) ? SF_FORM_MAGIC : SF_FORM_COMMAND_CODE;
  int received = (data[0] & 2) ? MODULE_HEADER_SIZE : (int)(data[1] % (MODULE_HEADER_SIZE + 1)) - 1;
  // Exactly 24 bytes, so ASan sees a look past them.
  std::vector<unsigned char> reply(MODULE_HEADER_SIZE, 0);
  size_t available = size - 2 < (size_t)MODULE_HEADER_SIZE ? size - 2 : (size_t)MODULE_HEADER_SIZE;
  std::memcpy(reply.data(), data + 2, available);
  CheckJudgement(reply.data(), received, form);

  uint32_t payload = SFHeaderFieldValue(reply.data(), SF_FIELD_PAYLOAD);
  CheckBuilt(form, payload);
  uint32_t seqNr = SFHeaderFieldValue(reply.data(), SF_FIELD_SEQ_NR);
  CheckPercent((int32_t)(seqNr & 0x7FFFFFFF), (int32_t)(payload & 0x7FFFFFFF));
  return 0;
}
