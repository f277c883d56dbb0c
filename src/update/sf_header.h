// The update protocol's message header and the judgement of the module's
// replies: pure functions over bytes, with no device, trace or clock, so
// that a fuzz target can run them on anything.
#pragma once
#include <cstdint>

#include "update/sf_codes.h"

// The 24-byte header exactly as it goes over the wire: six 32-bit fields,
// big-endian. Requests and replies share the layout.
struct SFHeader {
  unsigned char bytes[MODULE_HEADER_SIZE];
};
static_assert(sizeof(SFHeader) == MODULE_HEADER_SIZE, "the header is its wire image");

// Byte offsets of the fields.
enum SFHeaderField : int {
  SF_FIELD_COMMAND_CODE = 0,
  SF_FIELD_VERSION = 4,
  SF_FIELD_REQ_RESP = 8,
  SF_FIELD_RESULT_CODE = 12,
  SF_FIELD_SEQ_NR = 16,
  SF_FIELD_PAYLOAD = 20,
};

// The form is chosen once per assignment from the module's protocol version.
enum SFHeaderForm : int {
  SF_FORM_COMMAND_CODE = 0,
  SF_FORM_MAGIC = 1,
};

SFHeaderForm SFHeaderFormFor(uint32_t protocolVersion);

// Fills `header` with a request of `form` announcing `payload` bytes.
// Returns MODULE_HEADER_SIZE.
int SFBuildHeader(SFHeader *header, SFHeaderForm form, uint32_t payload);

// A field in host order. The magic reads as the number its four bytes form.
uint32_t SFHeaderFieldValue(const unsigned char *header, SFHeaderField field);

// What a reply means for the assignment.
enum SFReplyVerdict : int {
  SF_REPLY_ACCEPTED = 0,
  SF_REPLY_ERROR_TEXT = 1,  // "ERROR" in its text
  SF_REPLY_REJECTED = 2,    // a NACK of the magic form
  SF_REPLY_SHORT = 3,       // fewer than 24 bytes arrived
};

struct SFReplyJudgement {
  SFReplyVerdict verdict;
  int result;  // the assignment's code: SFLIB_OK, or the code it ends with
};

// `reply` holds MODULE_HEADER_SIZE bytes; `received` is what the read returned
// (-1 for a failed read). Only those 24 bytes are ever looked at.
SFReplyJudgement SFJudgeReply(const unsigned char *reply, int received, SFHeaderForm form);

// The assignment's code for a NACK's "Result code".
int SFRejectionResult(uint32_t resultCode);

// acknowledged * 100 / total in integer division, without overflow for any
// pair of lengths; 0 for a total of 0 or less.
int SFPercentOf(int32_t acknowledged, int32_t total);
