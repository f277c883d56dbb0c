// The message header's two forms, byte for byte, and what a reply says.
#include "update/sf_header.h"

#include <cstring>

#include "module_interface.h"

enum : uint32_t {
  SF_COMMAND_CODE = 0x2A,
  SF_COMMAND_FORM_VERSION = 0x10,
  SF_MAGIC_FORM_VERSION = 0x20,
  SF_REQUEST = 1,
  SF_ANY_SEQUENCE = 0xFFFFFFFFu,
  SF_RESULT_ACCEPTED = 0,
  SF_RESULT_ACCEPTED_TOO = 1,
};

// Copied as bytes, in this order, whatever the host's byte order.
static const unsigned char sfMagic[4] = {'Z', 'M', 'R', 'K'};
static const char sfErrorText[] = "ERROR";

// A rejection's "Result code" and the assignment's code for it; any other
// code gives SFLIB_REJECTED_OTHER.
static const struct {
  uint32_t resultCode;
  int result;
} sfRejections[] = {
    {2, SFLIB_REJECTED},
    {3, SFLIB_REJECTED_3},
    {4, SFLIB_REJECTED_4},
};

SFHeaderForm SFHeaderFormFor(uint32_t protocolVersion) {
  return protocolVersion == MODULE_MAGIC_PROTOCOL_VERSION ? SF_FORM_MAGIC : SF_FORM_COMMAND_CODE;
}

static void PutField(SFHeader *header, SFHeaderField field, uint32_t value) {
  unsigned char *at = header->bytes + field;
  at[0] = (unsigned char)(value >> 24);
  at[1] = (unsigned char)(value >> 16);
  at[2] = (unsigned char)(value >> 8);
  at[3] = (unsigned char)value;
}

int SFBuildHeader(SFHeader *header, SFHeaderForm form, uint32_t payload) {
  if (form == SF_FORM_MAGIC) {
    std::memcpy(header->bytes + SF_FIELD_COMMAND_CODE, sfMagic, sizeof sfMagic);
    PutField(header, SF_FIELD_VERSION, SF_MAGIC_FORM_VERSION);
  } else {
    PutField(header, SF_FIELD_COMMAND_CODE, SF_COMMAND_CODE);
    PutField(header, SF_FIELD_VERSION, SF_COMMAND_FORM_VERSION);
  }
  PutField(header, SF_FIELD_REQ_RESP, SF_REQUEST);
  PutField(header, SF_FIELD_RESULT_CODE, SF_RESULT_ACCEPTED);
  PutField(header, SF_FIELD_SEQ_NR, SF_ANY_SEQUENCE);
  PutField(header, SF_FIELD_PAYLOAD, payload);
  return MODULE_HEADER_SIZE;
}

uint32_t SFHeaderFieldValue(const unsigned char *header, SFHeaderField field) {
  const unsigned char *at = header + field;
  return (uint32_t)at[0] << 24 | (uint32_t)at[1] << 16 | (uint32_t)at[2] << 8 | (uint32_t)at[3];
}

// The reply read as text up to its first zero byte, but never past its 24
// bytes: a reply without a zero has no terminator.
static bool HoldsErrorText(const unsigned char *reply) {
  size_t length = 0;
  while (length < MODULE_HEADER_SIZE && reply[length] != 0) length++;
  const size_t wanted = sizeof sfErrorText - 1;
  for (size_t start = 0; start + wanted <= length; start++)
    if (std::memcmp(reply + start, sfErrorText, wanted) == 0) return true;
  return false;
}

int SFRejectionResult(uint32_t resultCode) {
  for (const auto &row : sfRejections)
    if (row.resultCode == resultCode) return row.result;
  return SFLIB_REJECTED_OTHER;
}

SFReplyJudgement SFJudgeReply(const unsigned char *reply, int received, SFHeaderForm form) {
  if (reply == nullptr) return {SF_REPLY_SHORT, SFLIB_REJECTED_OTHER};
  if (HoldsErrorText(reply)) return {SF_REPLY_ERROR_TEXT, SFLIB_REJECTED};
  if (form == SF_FORM_MAGIC) {
    uint32_t resultCode = SFHeaderFieldValue(reply, SF_FIELD_RESULT_CODE);
    bool magic = std::memcmp(reply + SF_FIELD_COMMAND_CODE, sfMagic, sizeof sfMagic) == 0;
    bool accepted = resultCode == SF_RESULT_ACCEPTED || resultCode == SF_RESULT_ACCEPTED_TOO;
    if (!magic || !accepted) return {SF_REPLY_REJECTED, SFRejectionResult(resultCode)};
  }
  // Zeros stand where bytes did not arrive; taken for a reply, they would
  // let a silent module "accept" every chunk of the command-code form.
  if (received < MODULE_HEADER_SIZE) return {SF_REPLY_SHORT, SFLIB_REJECTED_OTHER};
  return {SF_REPLY_ACCEPTED, SFLIB_OK};
}

int SFPercentOf(int32_t acknowledged, int32_t total) {
  if (total <= 0) return 0;
  return (int)((int64_t)acknowledged * 100 / total);
}
