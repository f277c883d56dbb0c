// The assignment exchange over a fake port that plays the module's update
// mode: chunking, both header forms, every reply and its code, progress,
// the closing wait, and the simulated module end to end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/devices.h"
#include "device/simulator.h"
#include "device_open/device_open.h"
#include "fakes/fake_all.h"
#include "support/module_port_fixture.h"
#include "support/sf_progress_record.h"
#include "support/trace_lines.h"
#include "support/update_peer.h"
#include "update/sf_header.h"
#include "update/sf_library.h"
#include "update/sf_link.h"

namespace {

const std::string magicVersion = "*QESFUD: {state 0, version 0x00000020}";
const std::string commandVersion = "*QESFUD: {state 0, version 0x00000010}";

std::string RequestHeader(SFHeaderForm form, uint32_t payload) {
  SFHeader header;
  SFBuildHeader(&header, form, payload);
  return std::string((const char *)header.bytes, 24);
}

// The request with another "Result code" (and, when given, another start).
std::string WithResult(const std::string &header, uint32_t resultCode, const char *start = nullptr) {
  std::string reply = header;
  for (int i = 0; i < 4; i++) reply[12 + i] = (char)(resultCode >> (24 - 8 * i));
  if (start != nullptr) reply.replace(0, 4, start, 4);
  return reply;
}

class AssignmentTest : public ModulePortTest {
 protected:
  void SetUp() override {
    ModulePortTest::SetUp();
    Fresh();
  }

  // A new module on the same port, speaking the given form, and nothing
  // remembered of the last one.
  void Fresh(SFHeaderForm form = SF_FORM_MAGIC) {
    port->input.clear();
    port->written.clear();
    port->writeLimit = 0xFFFFFFFFu;
    fakeComm.calls.clear();
    fakeDebugLines.clear();
    progressCalls.clear();
    SFProtocolVersion = 0;
    peer = PlayUpdatePeer(*port);
    peer->versionLine = form == SF_FORM_MAGIC ? magicVersion : commandVersion;
  }

  int Send(const std::string &package, SFProgressCallback progress = RecordProgress) {
    peer->packageLength = (int64_t)package.size();
    return SFLibSendAssignment(&device, (const unsigned char *)package.data(), (int32_t)package.size(), progress);
  }

  // Whether the package went out in the AT commands' wake only: the port
  // saw nothing but command lines.
  bool NothingBeyondCommands() const { return peer->headers.empty() && peer->payload.empty(); }

  std::shared_ptr<UpdatePeer> peer;
};

struct LengthRow {
  const char *name;
  size_t length;
  std::vector<size_t> chunks;
};

TEST_F(AssignmentTest, SendsThePackageInOrderInChunksOfAtMost8192) {
  const LengthRow rows[] = {
      {"one byte", 1, {1}},
      {"one full chunk", 8192, {8192}},
      {"three full chunks, no empty one after", 3 * 8192, {8192, 8192, 8192}},
      {"8193 bytes", 8193, {8192, 1}},
      {"a last chunk as long as a header", 8192 + 24, {8192, 24}},
      {"a single chunk as long as a header", 24, {24}},
      {"an uneven length", 100000, {8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 1696}},
  };
  for (SFHeaderForm form : {SF_FORM_MAGIC, SF_FORM_COMMAND_CODE}) {
    for (const LengthRow &row : rows) {
      SCOPED_TRACE(std::string(row.name) + (form == SF_FORM_MAGIC ? ", magic form" : ", command-code form"));
      Fresh(form);
      const std::string package = TestPackage(row.length);
      EXPECT_EQ(Send(package), 0);
      EXPECT_EQ(peer->payload, package);
      EXPECT_EQ(peer->chunkLengths, row.chunks);
      ASSERT_EQ(peer->headers.size(), row.chunks.size());
      for (size_t i = 0; i < row.chunks.size(); i++)
        EXPECT_EQ(peer->headers[i], RequestHeader(form, (uint32_t)row.chunks[i])) << "chunk " << i + 1;
      EXPECT_TRUE(peer->finished);
      // Every write is one header or one whole chunk.
      std::vector<std::string> writes = WrittenChunks();
      ASSERT_GE(writes.size(), 2 * row.chunks.size());
      std::vector<std::string> frames(writes.end() - 2 * row.chunks.size(), writes.end());
      for (size_t i = 0; i < row.chunks.size(); i++) {
        EXPECT_EQ(frames[2 * i].size(), 24u);
        EXPECT_EQ(frames[2 * i + 1].size(), row.chunks[i]);
      }
      EXPECT_TRUE(Traced("Wait for second OK returned 0"));
    }
  }
}

TEST_F(AssignmentTest, TracesEachChunkAndDumpsEveryHeader) {
  Send(TestPackage(8192 + 100));
  std::vector<std::string> debug;
  for (const TraceEntry &entry : Traces())
    if (entry.level == "DEBUG" && entry.source == "..\\..\\..\\src\\sf_library") debug.push_back(entry.message);
  const std::string request =
      "Payload 0x2000\nCommand_code 0x5a4d524b\nVersion 0x20\nReq resp 0x1\nResult code 0x0\nseqNr 0xffffffff\n";
  const std::string reply =
      "Payload 0x2000\nCommand_code 0x5a4d524b\nVersion 0x20\nReq resp 0x1\nResult code 0x1\nseqNr 0xffffffff\n";
  const std::string lastRequest =
      "Payload 0x64\nCommand_code 0x5a4d524b\nVersion 0x20\nReq resp 0x1\nResult code 0x0\nseqNr 0xffffffff\n";
  const std::string lastReply =
      "Payload 0x64\nCommand_code 0x5a4d524b\nVersion 0x20\nReq resp 0x1\nResult code 0x1\nseqNr 0xffffffff\n";
  EXPECT_EQ(debug, (std::vector<std::string>{
                       request, "Wait for ack\n", reply, "file_pos 8192, fileSize 8292, sent bytes 8192 (0)\n",
                       lastRequest, "Wait for ack\n", lastReply, "file_pos 8292, fileSize 8292, sent bytes 100 (1)\n",
                       "Wait for second ack\n", lastReply, "Wait for second OK returned 0\n"}));
  EXPECT_EQ(FunctionOf("Payload 0x2000"), "DumpHeader");
  EXPECT_EQ(FunctionOf("Wait for ack"), "SFLibSendAssignment");
}

TEST_F(AssignmentTest, DumpsAHeaderOnlyWhenGiven) {
  DumpHeader(nullptr);
  EXPECT_TRUE(fakeDebugLines.empty());
}

struct RejectionRow {
  const char *name;
  uint32_t resultCode;
  const char *start;  // another first four bytes, or none
  int result;
  bool nack;
};

const RejectionRow magicReplies[] = {
    {"result 1 accepts", 1, nullptr, 0, false},
    {"result 0 accepts", 0, nullptr, 0, false},
    {"result 2", 2, nullptr, 14, true},
    {"result 3", 3, nullptr, 17, true},
    {"result 4", 4, nullptr, 16, true},
    {"result 5", 5, nullptr, 18, true},
    {"the right result behind a wrong magic", 1, "ZMRL", 18, true},
    {"result 0 behind a wrong magic", 0, "\0\0\0\0", 18, true},
};

TEST_F(AssignmentTest, EndsAtTheChunkTheModuleRejectsWithItsCode) {
  for (const RejectionRow &row : magicReplies) {
    SCOPED_TRACE(row.name);
    Fresh();
    // A module follows its rejection with an ERROR line.
    peer->chunkReply = [&row](int chunk, const std::string &header) {
      if (chunk != 2) return UpdatePeer::Accept(header);
      return WithResult(header, row.resultCode, row.start) + (row.nack ? "\r\nERROR\r\n" : "");
    };
    EXPECT_EQ(Send(TestPackage(3 * 8192)), row.result);
    EXPECT_EQ(peer->headers.size(), row.result == 0 ? 3u : 2u) << "nothing follows a rejection";
    EXPECT_EQ(Traced("SF_Library: Received NACK"), row.nack);
    EXPECT_EQ(FunctionOf("Received NACK"), row.nack ? "SFLibSendAssignment" : "");
    // The closing wait comes whatever the outcome, and changes nothing.
    EXPECT_TRUE(Traced(row.result == 0 ? "Wait for second OK returned 0" : "Wait for second OK returned 4"));
  }
}

TEST_F(AssignmentTest, JudgesTheFinalReplyLikeTheOthers) {
  for (const RejectionRow &row : magicReplies) {
    SCOPED_TRACE(row.name);
    Fresh();
    peer->finalReply = [&row](const std::string &header) { return WithResult(header, row.resultCode, row.start); };
    EXPECT_EQ(Send(TestPackage(8193)), row.result);
    EXPECT_EQ(peer->headers.size(), 2u);
    EXPECT_EQ(Traced("SF_Library: Received NACK"), row.nack);
  }
}

TEST_F(AssignmentTest, CommandCodeFormTakesAnyTwentyFourBytesWithoutError) {
  const std::string replies[] = {
      std::string(24, '\xEE'),
      WithResult(RequestHeader(SF_FORM_MAGIC, 8192), 3),  // a magic NACK means nothing here
      std::string("OK\0ERROR", 8) + std::string(16, 'x'),  // the text ends before "ERROR"
  };
  for (const std::string &reply : replies) {
    SCOPED_TRACE(testing::PrintToString(reply));
    Fresh(SF_FORM_COMMAND_CODE);
    peer->chunkReply = [&reply](int, const std::string &) { return reply; };
    peer->finalReply = [&reply](const std::string &) { return reply; };
    EXPECT_EQ(Send(TestPackage(2 * 8192 + 5)), 0);
    EXPECT_EQ(peer->headers.size(), 3u);
    EXPECT_FALSE(Traced("Received NACK"));
  }
}

TEST_F(AssignmentTest, AnErrorReplyEndsTheAssignmentInEitherForm) {
  const std::string errorReplies[] = {
      "\r\nERROR\r\n",                                       // what a module sends
      "\r\nERROR\r\n" + std::string(15, 'x'),                // filling all 24 bytes
      std::string("\nERROR: bad chunk") + std::string(7, ' '),  // a bare line feed first
  };
  for (SFHeaderForm form : {SF_FORM_MAGIC, SF_FORM_COMMAND_CODE}) {
    for (const std::string &reply : errorReplies) {
      SCOPED_TRACE(testing::PrintToString(reply) + (form == SF_FORM_MAGIC ? " magic" : " command code"));
      Fresh(form);
      peer->chunkReply = [&reply](int chunk, const std::string &header) {
        return chunk == 1 ? reply : UpdatePeer::Accept(header);
      };
      EXPECT_EQ(Send(TestPackage(2 * 8192)), 14);
      EXPECT_EQ(peer->headers.size(), 1u);
      EXPECT_FALSE(Traced("Received NACK")) << "the ERROR case has no line of its own";
    }
  }
}

// The reply after every chunk and after the last one waits 120 s; then
// the closing line 10 s more.
TEST_F(AssignmentTest, MissingRepliesEndWithEighteenAfterTheirTimeOut) {
  struct Row {
    const char *name;
    SFHeaderForm form;
    size_t length;
    int silentFrom;  // the first chunk left unanswered; 0 for the final reply
    size_t headers;
  };
  const Row rows[] = {
      {"magic, silent from chunk 1", SF_FORM_MAGIC, 3 * 8192, 1, 1},
      {"command code, silent from chunk 1", SF_FORM_COMMAND_CODE, 3 * 8192, 1, 1},
      {"command code, silent from chunk 2", SF_FORM_COMMAND_CODE, 3 * 8192, 2, 2},
      {"command code, no final reply", SF_FORM_COMMAND_CODE, 3 * 8192, 0, 3},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh(row.form);
    peer->chunkReply = [&row](int chunk, const std::string &header) {
      return row.silentFrom != 0 && chunk >= row.silentFrom ? std::string() : UpdatePeer::Accept(header);
    };
    peer->finalReply = [](const std::string &) { return std::string(); };
    peer->finalLine = "";
    uint32_t start = fakeClock.tick;
    EXPECT_EQ(Send(TestPackage(row.length)), 18);
    uint32_t elapsed = fakeClock.tick - start;
    EXPECT_EQ(peer->headers.size(), row.headers);
    EXPECT_GE(elapsed, 120000u + 10000u);
    EXPECT_LT(elapsed, 2 * 120000u) << "one reply's wait, not one per chunk";
    EXPECT_TRUE(Traced("Received 0 bytes expected 24 within 120000 ms"));
    EXPECT_EQ(Messages("WARNING"), std::vector<std::string>{"SF_Library: Received NACK"})
        << "a reply that never came is refused like a rejection";
    EXPECT_TRUE(Traced("Wait for second OK returned 2"));
  }
}

TEST_F(AssignmentTest, AReplyCutShortEndsWithEighteen) {
  for (SFHeaderForm form : {SF_FORM_MAGIC, SF_FORM_COMMAND_CODE}) {
    SCOPED_TRACE(form == SF_FORM_MAGIC ? "magic" : "command code");
    Fresh(form);
    peer->chunkReply = [](int, const std::string &header) { return UpdatePeer::Accept(header).substr(0, 16); };
    EXPECT_EQ(Send(TestPackage(2 * 8192)), 18);
    EXPECT_EQ(peer->headers.size(), 1u);
    EXPECT_TRUE(Traced("Received 16 bytes expected 24 within 120000 ms"));
    EXPECT_TRUE(Traced("SF_Library: Received NACK"));
  }
}

TEST_F(AssignmentTest, AnEmptyPackageSendsNoHeaderButAwaitsTheFinalReply) {
  uint32_t start = fakeClock.tick;
  EXPECT_EQ(Send(""), 18);  // the module never answers a package it never saw
  EXPECT_GE(fakeClock.tick - start, 120000u);
  EXPECT_TRUE(peer->headers.empty());
  EXPECT_TRUE(peer->updateMode);
  EXPECT_TRUE(Traced("Wait for second ack"));
  EXPECT_EQ(progressCalls, (std::vector<ProgressCall>{{0}, {1}, {2}, {7}}));
}

TEST_F(AssignmentTest, ReportsProgressFromOnePercentOn) {
  const size_t chunks = 1000;
  const std::string package = TestPackage(chunks * 8192);
  ASSERT_EQ(Send(package), 0);
  std::vector<ProgressCall> expected = {{0}, {1}, {2}, {7}};
  for (size_t chunk = 10; chunk <= chunks; chunk++)
    expected.push_back({7, true, (int32_t)(chunk * 8192), (int32_t)package.size()});
  EXPECT_EQ(progressCalls, expected);
  EXPECT_EQ(progressCalls.back(), (ProgressCall{7, true, (int32_t)package.size(), (int32_t)package.size()}));
  EXPECT_EQ(peer->payload, package);
}

TEST_F(AssignmentTest, ReportsEveryChunkOfASmallPackage) {
  ASSERT_EQ(Send(TestPackage(8192 + 10)), 0);
  EXPECT_EQ(progressCalls,
            (std::vector<ProgressCall>{{0}, {1}, {2}, {7}, {7, true, 8192, 8202}, {7, true, 8202, 8202}}));
  Fresh();
  EXPECT_EQ(Send(TestPackage(100), nullptr), 0);
  EXPECT_TRUE(progressCalls.empty());
}

TEST_F(AssignmentTest, SendsNothingWhenTheLinkDoesNotOpen) {
  peer->replies["AT*QESFUD=3"] = "\r\nERROR\r\n";
  EXPECT_EQ(Send(TestPackage(3 * 8192)), 5);
  EXPECT_TRUE(NothingBeyondCommands());
  EXPECT_EQ(port->written, "ATE0\r\nAT*QESFUD?\r\nAT*QESFUD?\r\nAT*QESFUD=3\r\n");
  EXPECT_EQ(progressCalls, (std::vector<ProgressCall>{{0}, {1}, {2}}));
  EXPECT_FALSE(Traced("Wait for second OK")) << "no closing wait without a link";
}

TEST_F(AssignmentTest, RefusesMissingOrNegativeInputBeforeTheLink) {
  const std::string package = TestPackage(10);
  const unsigned char *data = (const unsigned char *)package.data();
  EXPECT_EQ(SFLibSendAssignment(nullptr, data, 10, RecordProgress), 3);
  EXPECT_EQ(SFLibSendAssignment(&device, nullptr, 10, RecordProgress), 3);
  EXPECT_EQ(SFLibSendAssignment(&device, nullptr, 0, RecordProgress), 3);
  EXPECT_EQ(SFLibSendAssignment(&device, data, -1, RecordProgress), 3);
  EXPECT_EQ(SFLibSendAssignment(&device, data, INT32_MIN, RecordProgress), 3);
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_TRUE(progressCalls.empty());
}

TEST_F(AssignmentTest, AShortWriteEndsWithFourteen) {
  struct Row {
    const char *name;
    uint32_t writeLimit;
    size_t headers;
  };
  const Row rows[] = {
      {"the header", 23, 0},
      {"the chunk", 8191, 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    port->writeLimit = row.writeLimit;  // the commands are shorter
    EXPECT_EQ(Send(TestPackage(2 * 8192)), 14);
    EXPECT_EQ(peer->headers.size(), row.headers);
    EXPECT_EQ(Messages("WARNING"), std::vector<std::string>{"SF_Library: Send header failed"});
    EXPECT_FALSE(Traced("Wait for ack"));
    EXPECT_TRUE(Traced("Wait for second OK returned"));
  }
}

TEST_F(AssignmentTest, TheClosingLineNeverChangesTheResult) {
  const struct {
    const char *line;
    const char *traced;
  } rows[] = {
      {"\r\nOK\r\n", "Wait for second OK returned 0"},
      {"\r\nERROR\r\n", "Wait for second OK returned 4"},
      {"", "Wait for second OK returned 2"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.traced);
    Fresh();
    peer->finalLine = row.line;
    uint32_t start = fakeClock.tick;
    EXPECT_EQ(Send(TestPackage(500)), 0);
    EXPECT_TRUE(Traced(row.traced));
    EXPECT_LE(fakeClock.tick - start, 10000u + 1000u) << "the closing wait is 10 s";
  }
}

TEST_F(AssignmentTest, KeepsTheFormOfTheLastVersionRead) {
  // A module that stops telling its version after the first assignment.
  ASSERT_EQ(Send(TestPackage(10)), 0);
  EXPECT_EQ(SFProtocolVersion, 32u);
  Fresh();
  SFProtocolVersion = 32;
  peer->versionLine = "*QESFUD: {state 0}";
  ASSERT_EQ(Send(TestPackage(10)), 0);
  EXPECT_EQ(peer->headers, std::vector<std::string>{RequestHeader(SF_FORM_MAGIC, 10)});
  Fresh();
  peer->versionLine = "*QESFUD: {state 0}";  // never reported: the command-code form
  ASSERT_EQ(Send(TestPackage(10)), 0);
  EXPECT_EQ(peer->headers, std::vector<std::string>{RequestHeader(SF_FORM_COMMAND_CODE, 10)});
}

// The simulated module answers every header with itself, result code 1;
// the same write that follows a header is its chunk, even at 24 bytes.
class SimulatedAssignmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAllFakes();
    progressCalls.clear();
    SFProtocolVersion = 0;
    ASSERT_EQ(SerialDeviceOpen(&device, "SIMULATOR", 9600), 0);
  }
  void TearDown() override { DeviceClose(device); }
  SerialDevice *device = nullptr;
};

TEST_F(SimulatedAssignmentTest, CompletesAMagicFormAssignment) {
  const size_t lengths[] = {3 * 8192 + 24, 24};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    SimulatorReset();  // one module per assignment: the simulated one never restarts
    const std::string package = TestPackage(length);
    EXPECT_EQ(SFLibSendAssignment(device, (const unsigned char *)package.data(), (int32_t)package.size(),
                                  RecordProgress),
              0);
    EXPECT_EQ(SFProtocolVersion, 32u);
    EXPECT_EQ(progressCalls.back(), (ProgressCall{7, true, (int32_t)length, (int32_t)length}));
    EXPECT_FALSE(Traced("NACK"));
    progressCalls.clear();
  }
}

}  // namespace
