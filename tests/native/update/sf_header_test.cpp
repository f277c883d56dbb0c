// The message header's wire bytes in both forms, the judgement of replies,
// and the progress percentage, as pure functions over bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "update/sf_header.h"

namespace {

std::string Hex(const unsigned char *bytes, size_t count) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < count; i++) {
    if (i > 0) text += ' ';
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

struct HeaderRow {
  const char *name;
  SFHeaderForm form;
  uint32_t payload;
  const char *wire;
};

TEST(SFHeaderTest, BuildsTheWireBytesOfEachForm) {
  const HeaderRow rows[] = {
      {"magic, full chunk", SF_FORM_MAGIC, 8192,
       "5A 4D 52 4B 00 00 00 20 00 00 00 01 00 00 00 00 FF FF FF FF 00 00 20 00"},
      {"command code, full chunk", SF_FORM_COMMAND_CODE, 8192,
       "00 00 00 2A 00 00 00 10 00 00 00 01 00 00 00 00 FF FF FF FF 00 00 20 00"},
      {"magic, one byte", SF_FORM_MAGIC, 1,
       "5A 4D 52 4B 00 00 00 20 00 00 00 01 00 00 00 00 FF FF FF FF 00 00 00 01"},
      {"command code, a last chunk of 6382", SF_FORM_COMMAND_CODE, 6382,
       "00 00 00 2A 00 00 00 10 00 00 00 01 00 00 00 00 FF FF FF FF 00 00 18 EE"},
  };
  for (const HeaderRow &row : rows) {
    SCOPED_TRACE(row.name);
    SFHeader header;
    std::memset(header.bytes, 0xCC, sizeof header.bytes);  // every byte must be written
    EXPECT_EQ(SFBuildHeader(&header, row.form, row.payload), 24);
    EXPECT_EQ(Hex(header.bytes, 24), row.wire);
  }
}

TEST(SFHeaderTest, ReadsFieldsInHostOrder) {
  SFHeader header;
  SFBuildHeader(&header, SF_FORM_MAGIC, 0x1234);
  EXPECT_EQ(SFHeaderFieldValue(header.bytes, SF_FIELD_COMMAND_CODE), 0x5A4D524Bu);
  EXPECT_EQ(SFHeaderFieldValue(header.bytes, SF_FIELD_VERSION), 0x20u);
  EXPECT_EQ(SFHeaderFieldValue(header.bytes, SF_FIELD_REQ_RESP), 1u);
  EXPECT_EQ(SFHeaderFieldValue(header.bytes, SF_FIELD_RESULT_CODE), 0u);
  EXPECT_EQ(SFHeaderFieldValue(header.bytes, SF_FIELD_SEQ_NR), 0xFFFFFFFFu);
  EXPECT_EQ(SFHeaderFieldValue(header.bytes, SF_FIELD_PAYLOAD), 0x1234u);
}

TEST(SFHeaderTest, OnlyVersion32SpeaksTheMagicForm) {
  EXPECT_EQ(SFHeaderFormFor(32), SF_FORM_MAGIC);
  for (uint32_t version : {0u, 16u, 31u, 33u, 0x2000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(version);
    EXPECT_EQ(SFHeaderFormFor(version), SF_FORM_COMMAND_CODE);
  }
}

// A reply as the module's loader sends it: the request with its "Result
// code" set, or any bytes a test gives.
std::string Reply(const char magic[5], uint32_t resultCode) {
  SFHeader header;
  SFBuildHeader(&header, SF_FORM_MAGIC, 8192);
  std::memcpy(header.bytes, magic, 4);
  for (int i = 0; i < 4; i++) header.bytes[12 + i] = (unsigned char)(resultCode >> (24 - 8 * i));
  return std::string((const char *)header.bytes, 24);
}

struct JudgeRow {
  const char *name;
  std::string reply;
  int received;
  SFHeaderForm form;
  SFReplyVerdict verdict;
  int result;
};

TEST(SFHeaderTest, JudgesEachKindOfReply) {
  const std::string arbitrary(24, '\xEE');
  const std::string errorLine = std::string("\r\nERROR\r\n") + std::string(15, '\0');
  const JudgeRow rows[] = {
      {"magic, result 1", Reply("ZMRK", 1), 24, SF_FORM_MAGIC, SF_REPLY_ACCEPTED, 0},
      {"magic, result 0", Reply("ZMRK", 0), 24, SF_FORM_MAGIC, SF_REPLY_ACCEPTED, 0},
      {"magic, result 2", Reply("ZMRK", 2), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 14},
      {"magic, result 3", Reply("ZMRK", 3), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 17},
      {"magic, result 4", Reply("ZMRK", 4), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 16},
      {"magic, result 5", Reply("ZMRK", 5), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 18},
      {"magic, result 0x100 (not 0 in the low byte only)", Reply("ZMRK", 0x100), 24, SF_FORM_MAGIC,
       SF_REPLY_REJECTED, 18},
      {"magic, result 0xFFFFFFFF", Reply("ZMRK", 0xFFFFFFFF), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 18},
      {"wrong magic, result 1", Reply("ZMRL", 1), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 18},
      {"wrong magic, result 0", Reply("zmrk", 0), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 18},
      {"wrong magic takes the code of its result", Reply("XXXX", 3), 24, SF_FORM_MAGIC, SF_REPLY_REJECTED, 17},
      {"magic, nothing arrived", std::string(24, '\0'), 0, SF_FORM_MAGIC, SF_REPLY_REJECTED, 18},
      {"magic, an accepting reply cut short", Reply("ZMRK", 1).substr(0, 16) + std::string(8, '\0'), 16,
       SF_FORM_MAGIC, SF_REPLY_SHORT, 18},
      {"magic, a failed read", Reply("ZMRK", 1), -1, SF_FORM_MAGIC, SF_REPLY_SHORT, 18},
      {"command code, arbitrary bytes", arbitrary, 24, SF_FORM_COMMAND_CODE, SF_REPLY_ACCEPTED, 0},
      {"command code, a magic NACK is not examined", Reply("ZMRK", 3), 24, SF_FORM_COMMAND_CODE,
       SF_REPLY_ACCEPTED, 0},
      {"command code, nothing arrived", std::string(24, '\0'), 0, SF_FORM_COMMAND_CODE, SF_REPLY_SHORT, 18},
      {"command code, 23 bytes", arbitrary.substr(0, 23) + '\0', 23, SF_FORM_COMMAND_CODE, SF_REPLY_SHORT, 18},
      {"command code, a failed read", arbitrary, -1, SF_FORM_COMMAND_CODE, SF_REPLY_SHORT, 18},
      {"ERROR line, magic", errorLine, 9, SF_FORM_MAGIC, SF_REPLY_ERROR_TEXT, 14},
      {"ERROR line, command code", errorLine, 9, SF_FORM_COMMAND_CODE, SF_REPLY_ERROR_TEXT, 14},
      {"ERROR in a whole reply", "abcdefghijklmnopqrsERROR", 24, SF_FORM_COMMAND_CODE, SF_REPLY_ERROR_TEXT, 14},
      {"ERROR behind a zero byte is not read", std::string("abc\0ERROR", 9) + std::string(15, 'x'), 24,
       SF_FORM_COMMAND_CODE, SF_REPLY_ACCEPTED, 0},
      {"error in lower case is no ERROR", "\r\nerror\r\n" + std::string(15, 'x'), 24, SF_FORM_COMMAND_CODE,
       SF_REPLY_ACCEPTED, 0},
  };
  for (const JudgeRow &row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.reply.size(), 24u);
    SFReplyJudgement judgement = SFJudgeReply((const unsigned char *)row.reply.data(), row.received, row.form);
    EXPECT_EQ(judgement.verdict, row.verdict);
    EXPECT_EQ(judgement.result, row.result);
  }
}

// 24 non-zero bytes have no terminator: the search must stop at the
// reply's end even when the memory behind it would complete the word.
TEST(SFHeaderTest, LooksForErrorOnlyWithinTheReply) {
  unsigned char memory[32];
  std::memset(memory, 'x', sizeof memory);
  std::memcpy(memory + 20, "ERROR", 5);  // "ERRO" inside, "R" one byte past
  memory[25] = '\0';
  SFReplyJudgement judgement = SFJudgeReply(memory, 24, SF_FORM_COMMAND_CODE);
  EXPECT_EQ(judgement.verdict, SF_REPLY_ACCEPTED);
  EXPECT_EQ(judgement.result, 0);

  std::memcpy(memory + 19, "ERROR", 5);  // now all five letters are inside
  EXPECT_EQ(SFJudgeReply(memory, 24, SF_FORM_COMMAND_CODE).result, 14);
}

struct PercentRow {
  int32_t acknowledged;
  int32_t total;
  int percent;
};

TEST(SFHeaderTest, PercentDoesNotOverflowForAnyLength) {
  const PercentRow rows[] = {
      {0, 819200, 0},
      {73728, 8192000, 0},  // chunk 9 of 1000
      {81920, 8192000, 1},  // chunk 10 of 1000
      {8192000, 8192000, 100},
      {21474836, INT32_MAX, 0},
      {21474837, INT32_MAX, 1},  // a product above 2^31 in 32 bits
      {INT32_MAX, INT32_MAX, 100},
      {10212846, 10212846, 100},
      {0, 0, 0},
      {5, -1, 0},
  };
  for (const PercentRow &row : rows) {
    SCOPED_TRACE(std::to_string(row.acknowledged) + " of " + std::to_string(row.total));
    EXPECT_EQ(SFPercentOf(row.acknowledged, row.total), row.percent);
  }
}

}  // namespace
