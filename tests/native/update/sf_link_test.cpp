// The update-mode link over a fake port that plays the module: the three
// steps of the opening and their trace, the poll, the open kinds, the
// version query, and the raw read and write.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/module_port_fixture.h"
#include "support/trace_lines.h"
#include "support/update_peer.h"
#include "update/sf_link.h"

namespace {

std::vector<unsigned> stages;

void RecordStage(unsigned stage, const SFProgressPair *pair) {
  EXPECT_EQ(pair, nullptr) << "the link reports no byte counts";
  stages.push_back(stage);
}

const std::string query = "AT*QESFUD?";

class SFLinkTest : public ModulePortTest {
 protected:
  void SetUp() override {
    ModulePortTest::SetUp();
    SFProtocolVersion = 0;
    Fresh();
  }

  // A new module on the same port, and nothing remembered of the last one.
  void Fresh() {
    port->input.clear();
    fakeComm.calls.clear();
    fakeClock.sleeps.clear();
    fakeDebugLines.clear();
    stages.clear();
    peer = PlayUpdatePeer(*port);
  }

  // The link's own lines of one level; the AT channel traces its own.
  static std::vector<std::string> Link(const std::string &level) {
    std::vector<std::string> messages;
    for (const TraceEntry &entry : Traces())
      if (entry.source == "..\\..\\..\\src\\sf_link" && entry.level == level) messages.push_back(entry.message);
    return messages;
  }
  static std::vector<std::string> Info() { return Link("INFO"); }

  std::shared_ptr<UpdatePeer> peer;
};

TEST_F(SFLinkTest, OpensAfterTwoPausesWhenTheQueryAnswersOnTheThirdAttempt) {
  peer->queryFailures = 2;
  EXPECT_EQ(SFOpen(&device, SF_OPEN_QUERY_AND_SWITCH, RecordStage), 0);
  // Three attempts of the poll, then the version query asks once more.
  EXPECT_EQ(peer->commands, (std::vector<std::string>{"ATE0", query, query, query, query, "AT*QESFUD=3"}));
  EXPECT_EQ(fakeClock.sleeps, (std::vector<int>{1000, 1000}));
  EXPECT_EQ(stages, (std::vector<unsigned>{0, 1, 2}));
  EXPECT_EQ(SFProtocolVersion, 32u);
  EXPECT_EQ(Link("DEBUG"), (std::vector<std::string>{"Go to state 0\n", "Go to state 1\n", "Go to state 2\n"}));
  EXPECT_EQ(Info(), (std::vector<std::string>{"SF_Link: State  = 3", "SF_Link: Result = 0"}));
  EXPECT_EQ(FunctionOf("Go to state 0"), "SFOpen");
  EXPECT_EQ(FunctionOf("SF_Link: State"), "SFOpen");
}

struct FailureRow {
  const char *name;
  std::map<std::string, std::string> replies;
  int queryFailures;
  std::vector<std::string> commands;
  std::vector<unsigned> stages;
  size_t pauses;
  int state;
  int result;
};

TEST_F(SFLinkTest, StopsAtTheFailingStepAndTracesTheStepThatWouldHaveCome) {
  const std::vector<std::string> poll21(21, query);
  std::vector<std::string> echoThenPoll = {"ATE0"};
  echoThenPoll.insert(echoThenPoll.end(), poll21.begin(), poll21.end());
  const FailureRow rows[] = {
      {"echo off refused", {{"ATE0", "\r\nERROR\r\n"}}, 0, {"ATE0"}, {0}, 0, 1, 4},
      {"echo off unanswered", {{"ATE0", ""}}, 0, {"ATE0"}, {0}, 0, 1, 2},
      {"the update-state query never succeeds", {}, 1000, echoThenPoll, {0, 1}, 20, 2, 4},
      // The poll hides the query's own code: silence also ends as 4.
      {"the update-state query is never answered", {{query, ""}}, 0, echoThenPoll, {0, 1}, 20, 2, 4},
      {"the mode switch refused", {{"AT*QESFUD=3", "\r\nERROR\r\n"}}, 0, {"ATE0", query, query, "AT*QESFUD=3"},
       {0, 1, 2}, 0, 3, 4},
  };
  for (const FailureRow &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    peer->replies = row.replies;
    peer->queryFailures = row.queryFailures;
    EXPECT_EQ(SFOpen(&device, SF_OPEN_QUERY_AND_SWITCH, RecordStage), -1);
    EXPECT_EQ(peer->commands, row.commands);
    EXPECT_EQ(stages, row.stages);
    EXPECT_EQ(fakeClock.sleeps, std::vector<int>(row.pauses, 1000));
    EXPECT_EQ(Info(), (std::vector<std::string>{"SF_Link: State  = " + std::to_string(row.state),
                                                "SF_Link: Result = " + std::to_string(row.result)}));
  }
}

TEST_F(SFLinkTest, PollGivesFourAfterTwentyOneAttempts) {
  peer->queryFailures = 21;
  EXPECT_EQ(SFPollUpdateMode(&device, 60000), 4);
  EXPECT_EQ(peer->commands, std::vector<std::string>(21, query));
  EXPECT_EQ(fakeClock.sleeps, std::vector<int>(20, 1000));

  Fresh();
  peer->queryFailures = 20;  // the last attempt succeeds
  EXPECT_EQ(SFPollUpdateMode(&device, 60000), 0);
  EXPECT_EQ(peer->commands.size(), 21u);

  Fresh();
  EXPECT_EQ(SFPollUpdateMode(&device, 60000), 0);
  EXPECT_EQ(peer->commands, std::vector<std::string>{query});
  EXPECT_TRUE(fakeClock.sleeps.empty());
}

struct KindRow {
  const char *name;
  unsigned kind;
  std::vector<std::string> commands;
  int result;
  int tracedResult;
  uint32_t version;
};

TEST_F(SFLinkTest, SendsTheModeCommandOfEachKind) {
  const KindRow rows[] = {
      {"kind 0 learns the version first", 0, {"ATE0", query, query, "AT*QESFUD=3"}, 0, 0, 16},
      {"kind 1", 1, {"ATE0", query, "AT*QESFUD=1"}, 0, 0, 0},
      {"kind 2", 2, {"ATE0", query, "AT*QESFUD=2"}, 0, 0, 0},
      {"kind 3 switches without the query", 3, {"ATE0", query, "AT*QESFUD=3"}, 0, 0, 0},
      {"kind 5 has no command", 5, {"ATE0", query}, -1, -1, 0},
      {"a kind far outside the table", 0xFFFFFFFFu, {"ATE0", query}, -1, -1, 0},
  };
  for (const KindRow &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    SFProtocolVersion = 0;
    peer->versionLine = "*QESFUD: {state 0, version 0x00000010}";
    EXPECT_EQ(SFOpen(&device, row.kind, RecordStage), row.result);
    EXPECT_EQ(peer->commands, row.commands);
    EXPECT_EQ(stages, (std::vector<unsigned>{0, 1, 2}));
    EXPECT_EQ(Info(), (std::vector<std::string>{"SF_Link: State  = 3",
                                                "SF_Link: Result = " + std::to_string(row.tracedResult)}));
    EXPECT_EQ(SFProtocolVersion, row.version);
  }
}

TEST_F(SFLinkTest, OpensWithoutAProgressCallback) {
  EXPECT_EQ(SFOpen(&device, SF_OPEN_QUERY_AND_SWITCH, nullptr), 0);
  EXPECT_TRUE(peer->updateMode);
}

struct VersionRow {
  const char *name;
  std::string reply;
  int result;
  uint32_t version;  // what the destination holds afterwards; it starts at 77
};

TEST_F(SFLinkTest, ReadsTheVersionAfterItsLabel) {
  const VersionRow rows[] = {
      {"the module's own line", "\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n", 0, 32},
      {"version 16", "\r\n*QESFUD: {state 0, version 0x00000010}\r\n\r\nOK\r\n", 0, 16},
      {"behind the echo", "AT*QESFUD?\r\n*QESFUD: {state 1, version 0x10}\r\nOK\r\n", 0, 16},
      {"upper-case digits", "\r\n*QESFUD: {version 0x0000ABcd}\r\nOK\r\n", 0, 0xABCD},
      {"the widest number", "\r\n*QESFUD: {version 0xFFFFFFFF}\r\nOK\r\n", 0, 0xFFFFFFFF},
      {"digits stop at any other character", "\r\n*QESFUD: {version 0x20g1}\r\nOK\r\n", 0, 32},
      {"no label", "\r\n*QESFUD: {state 0}\r\nOK\r\n", 4, 77},
      {"the label without its space", "\r\n*QESFUD: {version:0x20}\r\nOK\r\n", 4, 77},
      {"no 0x after the label", "\r\n*QESFUD: {state 0, version 20}\r\nOK\r\n", 4, 77},
      {"wider than 32 bits", "\r\n*QESFUD: {state 0, version 0x100000020}\r\nOK\r\n", 4, 77},
      {"a long run of zeros is still 32", "\r\n*QESFUD: {version 0x000000000000000020}\r\nOK\r\n", 0, 32},
      {"the label only on a later line", "\r\n*QESFUD: {state 0}\r\nversion 0x20\r\nOK\r\n", 4, 77},
      {"the query refused", "\r\nERROR\r\n", 4, 77},
      {"the query unanswered", "", 2, 77},
  };
  for (const VersionRow &row : rows) {
    SCOPED_TRACE(row.name);
    Fresh();
    peer->replies[query] = row.reply;
    uint32_t version = 77;
    EXPECT_EQ(SFQueryVersion(&device, &version, 60000), row.result);
    EXPECT_EQ(version, row.version);
    EXPECT_EQ(peer->commands, std::vector<std::string>{query});
  }
  Fresh();
  EXPECT_EQ(SFQueryVersion(&device, nullptr, 60000), 0);
}

// The version query's failure does not stop the opening; the version
// stays what an earlier assignment learnt.
TEST_F(SFLinkTest, SwitchesModesWhenTheVersionCannotBeRead) {
  const char *lines[] = {"*QESFUD: {state 0}", "*QESFUD: {state 0, version 0x100000010}"};
  for (const char *line : lines) {
    SCOPED_TRACE(line);
    Fresh();
    SFProtocolVersion = 32;
    peer->versionLine = line;
    EXPECT_EQ(SFOpen(&device, SF_OPEN_QUERY_AND_SWITCH, RecordStage), 0);
    EXPECT_EQ(peer->commands.back(), "AT*QESFUD=3");
    EXPECT_EQ(SFProtocolVersion, 32u);
  }
}

TEST_F(SFLinkTest, ReadsAndWritesRawBytesPastTheChannel) {
  port->input = "0123456789abcdefghijklmnopqrstuvwxyz";
  char buffer[24];
  EXPECT_EQ(SFRead(&device, buffer, 24, 120000), 24);
  EXPECT_EQ(std::string(buffer, 24), "0123456789abcdefghijklmn");
  EXPECT_EQ(Link("DEBUG"), std::vector<std::string>{"Received 24 bytes expected 24 within 120000 ms\n"});
  EXPECT_EQ(FunctionOf("Received 24"), "SFRead");

  // What is there, after the time-out.
  fakeDebugLines.clear();
  uint32_t before = fakeClock.tick;
  EXPECT_EQ(SFRead(&device, buffer, 24, 5000), 12);
  EXPECT_GE(fakeClock.tick - before, 5000u);
  EXPECT_EQ(Link("DEBUG"), std::vector<std::string>{"Received 12 bytes expected 24 within 5000 ms\n"});

  EXPECT_EQ(SFWrite(&device, "\x00\x01\x02", 3), 3);
  EXPECT_EQ(port->written, std::string("\x00\x01\x02", 3));
  EXPECT_EQ(FakeCommCount("WriteFile"), 1) << "one write, no lock, no CR LF";
}

TEST_F(SFLinkTest, DoesNothingWithoutDeviceBufferOrData) {
  char buffer[24];
  EXPECT_EQ(SFRead(nullptr, nullptr, 24, 120000), 0);
  EXPECT_EQ(SFRead(&device, nullptr, 24, 120000), 0);
  EXPECT_TRUE(fakeDebugLines.empty());
  EXPECT_EQ(SFRead(nullptr, buffer, 24, 120000), -1);
  EXPECT_EQ(Link("DEBUG"), std::vector<std::string>{"Received -1 bytes expected 24 within 120000 ms\n"});

  EXPECT_EQ(SFWrite(nullptr, "abc", 3), 0);
  EXPECT_EQ(SFWrite(&device, nullptr, 3), 0);
  EXPECT_EQ(FakeCommCount("ReadFile") + FakeCommCount("WriteFile"), 0);
}

TEST_F(SFLinkTest, CloseSendsNothing) {
  ASSERT_EQ(SFOpen(&device, SF_OPEN_QUERY_AND_SWITCH, nullptr), 0);
  fakeComm.calls.clear();
  SFClose(&device);
  SFClose(nullptr);
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_TRUE(peer->updateMode);
}

}  // namespace
