// The shared AT queries over a fake port that plays the module: PIN state
// and entry, the update-state query, echo skipping and the first line.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "at/at_cmd.h"
#include "support/module_port_fixture.h"
#include "support/shared_texts.h"
#include "support/trace_lines.h"

namespace {

const char updateStateLine[] = "*QESFUD: {state 0, version 0x00000020}";

using AtQueryTest = ModulePortTest;

struct PinRow {
  const char *name;
  std::string reply;
  int result;  // an ATResult
  PinState state;
};

TEST_F(AtQueryTest, ReadsThePinStateFromTheReply) {
  const PinState untouched = (PinState)99;
  const PinRow rows[] = {
      {"ready", "\r\n+CPIN: READY\r\n\r\nOK\r\n", 0, PIN_STATE_READY},
      {"PIN", "\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n", 0, PIN_STATE_PIN_REQUIRED},
      {"PUK, after the echo", "AT+CPIN?\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n", 0, PIN_STATE_PUK_REQUIRED},
      {"second PIN reads as PIN", "+CPIN: SIM PIN2\r\nOK\r\n", 0, PIN_STATE_PIN_REQUIRED},
      {"second PUK reads as PUK", "+CPIN: SIM PUK2\r\nOK\r\n", 0, PIN_STATE_PUK_REQUIRED},
      {"another lock leaves the state", "+CPIN: PH-SIM PIN\r\nOK\r\n", 0, untouched},
      {"ERROR only", "ERROR\r\n", 4, untouched},
      {"a state but a failing final line", "+CPIN: READY\r\nERROR\r\n", 4, untouched},
      {"silence", "", 2, untouched},
      // The reply buffer keeps 199 bytes: a state text must end within them.
      {"READY ends on the last byte kept", PaddingLines(187) + "+CPIN: READY\r\nOK\r\n", 0, PIN_STATE_READY},
      {"READY runs one byte past what is kept", PaddingLines(188) + "+CPIN: READY\r\nOK\r\n", 0, untouched},
  };
  for (const PinRow &row : rows) {
    AnswerAll(row.reply);
    PinState state = untouched;
    EXPECT_EQ(ATGetPinState(&device, &state, 4000), row.result) << row.name;
    EXPECT_EQ(state, row.state) << row.name;
    EXPECT_EQ(module->commands, std::vector<std::string>{"AT+CPIN?"}) << row.name;
  }
}

TEST_F(AtQueryTest, AsksNothingWithoutAStateToWrite) {
  AnswerAll("+CPIN: READY\r\nOK\r\n");
  EXPECT_EQ(ATGetPinState(&device, nullptr, 4000), 4);
  EXPECT_TRUE(fakeComm.calls.empty());
}

TEST_F(AtQueryTest, SendsAPinAsAQuotedValueFollowedByAnEmptyLine) {
  AnswerAll("\r\nOK\r\n");
  EXPECT_EQ(ATEnterPin(&device, "1234", 4000), 0);
  EXPECT_EQ(WrittenChunks(), (std::vector<std::string>{"AT+CPIN=\"1234\"\r\n", "\r\n"}));
  EXPECT_EQ(port->written, "AT+CPIN=\"1234\"\r\n\r\n");

  AnswerAll("\r\n+CME ERROR: incorrect password\r\nERROR\r\n");
  EXPECT_EQ(ATEnterPin(&device, "0000", 4000), 4);
}

// Anyone on the machine can read the debugger output: the code shows in
// no trace line, neither as sent nor as the module echoes or repeats it.
TEST_F(AtQueryTest, KeepsTheCodeOutOfTheTrace) {
  module = PlayModule(*port, ReplyFrom({}, "\r\n+CME ERROR: incorrect password 31415926\r\nERROR\r\n"));
  module->echo = true;
  fakeDebugLines.clear();
  EXPECT_EQ(ATEnterPin(&device, "31415926", 4000), 4);
  EXPECT_EQ(port->written, "AT+CPIN=\"31415926\"\r\n\r\n");
  EXPECT_TRUE(Traced("Write [AT+CPIN=\"********\"\r\n]"));
  EXPECT_TRUE(Traced("Read buf [AT+CPIN=\"********\"\r\n"));
  EXPECT_TRUE(Traced("Read buf [+CME ERROR: incorrect password ********\r\n]"));
  ASSERT_FALSE(fakeDebugLines.empty());
  for (const std::string &line : fakeDebugLines) EXPECT_EQ(line.find("31415926"), std::string::npos) << line;
}

struct CodeRow {
  const char *name;
  std::string code;
  bool sent;
};

// The dialog lets only digits through; this is the last guard before the
// code reaches the module inside quotes.
TEST_F(AtQueryTest, RefusesACodeThatCouldBreakOutOfItsQuotes) {
  const CodeRow rows[] = {
      {"digits", "12345678", true},
      {"printable text", "PUK 1234-abc", true},
      {"the longest code that fits the command", std::string(187, '7'), true},
      {"one more does not fit", std::string(188, '7'), false},
      {"double quote", "12\"34", false},
      {"second command after CR LF", "1234\"\r\nAT+CFUN=0\r\n", false},
      {"bare LF", "12\n34", false},
      {"bare CR", "12\r34", false},
      {"tab", "12\t34", false},
      {"DEL", "12\x7f", false},
      {"beyond ASCII", "12\xe9", false},
  };
  for (const CodeRow &row : rows) {
    FakeSyncReset();
    port->written.clear();
    AnswerAll("OK\r\n");
    EXPECT_EQ(ATEnterPin(&device, row.code.c_str(), 4000), row.sent ? 0 : 4) << row.name;
    if (row.sent) {
      EXPECT_EQ(port->written, "AT+CPIN=\"" + row.code + "\"\r\n\r\n") << row.name;
    } else {
      EXPECT_EQ(port->written, "") << row.name;
      EXPECT_EQ(fakeSync.waits, 0) << row.name << ": not even the lock is taken";
    }
  }
  EXPECT_EQ(ATEnterPin(&device, nullptr, 4000), 4);
}

TEST_F(AtQueryTest, AsksTheUpdateStateWithoutAReplyBuffer) {
  AnswerAll(updateStateReply);
  EXPECT_EQ(ATQueryUpdateMode(&device, 4000), 0);
  AnswerAll("AT*QESFUD?\r\nERROR\r\n");
  EXPECT_EQ(ATQueryUpdateMode(&device, 60000), 4);
  EXPECT_EQ(WrittenChunks(), (std::vector<std::string>{"AT*QESFUD?", "\r\n", "AT*QESFUD?", "\r\n"}));
}

struct SimRow {
  const char *name;
  const char *updateState;  // the reply to AT*QESFUD?
  const char *pinState;     // the reply to AT+CPIN?, nullptr when it must not be asked
  SimCheck sim;
};

// The check the run and the inventory share: the update-state query first,
// and only when it fails the PIN state, whose failure alone is unreadable.
TEST_F(AtQueryTest, ChecksTheSimAsARunDoes) {
  const SimRow rows[] = {
      {"the module takes the update-state query", updateStateReply, nullptr, SIM_CHECK_NOT_NEEDED},
      {"ready", "ERROR\r\n", "+CPIN: READY\r\nOK\r\n", SIM_CHECK_READY},
      {"PIN", "ERROR\r\n", "+CPIN: SIM PIN\r\nOK\r\n", SIM_CHECK_PIN},
      {"PUK", "ERROR\r\n", "+CPIN: SIM PUK\r\nOK\r\n", SIM_CHECK_PUK},
      {"a state it does not know asks for a PIN", "ERROR\r\n", "+CPIN: PH-SIM PIN\r\nOK\r\n", SIM_CHECK_PIN},
      {"no reply asks for a PIN", "ERROR\r\n", "", SIM_CHECK_PIN},
      {"a failed query is unreadable", "ERROR\r\n", "ERROR\r\n", SIM_CHECK_UNREADABLE},
  };
  for (const SimRow &row : rows) {
    SCOPED_TRACE(row.name);
    std::map<std::string, std::string> replies = {{"AT*QESFUD?", row.updateState}};
    if (row.pinState != nullptr) replies["AT+CPIN?"] = row.pinState;
    Answer(ReplyFrom(replies, "ERROR\r\n"));
    EXPECT_EQ(ATCheckSim(&device, 4000), row.sim);
    std::vector<std::string> asked = {"AT*QESFUD?"};
    if (row.pinState != nullptr) asked.push_back("AT+CPIN?");
    EXPECT_EQ(module->commands, asked);
  }
}

struct EchoRow {
  const char *name;
  const char *reply;
  const char *command;
  size_t offset;
};

TEST(ATSkipEcho, FindsWhereTheModulesOwnTextBegins) {
  const EchoRow rows[] = {
      {"echo", updateStateReply, "AT*QESFUD?", 12},
      {"no echo, leading CR LF", "\r\n*QESFUD: {state 0}\r\n\r\nOK\r\n", "AT*QESFUD?", 2},
      {"no echo and no leading CR LF", "*QESFUD: {state 0}\r\nOK\r\n", "AT*QESFUD?", 0},
      {"echo without a line end after it", "OK AT*QESFUD?", "AT*QESFUD?", 0},
      {"line end searched after the echo, not before", "\r\nAT*QVERS\r\nModel. X\r\n", "AT*QVERS", 12},
      {"command longer than the reply", "OK\r\n", "AT*QESFUD?", 0},
      // Without the length rule the leading CR LF would be skipped.
      {"command longer than a reply of CR LF", "\r\n", "AT*QESFUD?", 0},
      {"empty reply", "", "AT", 0},
  };
  for (const EchoRow &row : rows)
    EXPECT_EQ(ATSkipEcho(row.reply, row.command), row.reply + row.offset) << row.name;
  const char reply[] = "\r\nOK\r\n";
  EXPECT_EQ(ATSkipEcho(reply, nullptr), reply);
  EXPECT_EQ(ATSkipEcho(nullptr, "AT"), nullptr);
}

struct LineRow {
  const char *name;
  std::string reply;
  int capacity;
  std::string line;
};

TEST_F(AtQueryTest, CopiesTheFirstLineAfterTheEchoWithinTheCapacity) {
  const std::string wide(3000, 'w');
  const LineRow rows[] = {
      {"echo on", updateStateReply, 200, updateStateLine},
      {"echo off", "\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n", 200, updateStateLine},
      // An unsolicited RING just before the reply: the channel drops its
      // text but keeps the blank line in front of it, so the reply starts
      // with two line ends, and the line wanted is the first with text.
      {"RING before the reply, echo off",
       "\r\nRING\r\n\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n", 200, updateStateLine},
      {"RING after the echo", "AT*QESFUD?\r\r\n\r\nRING\r\n\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n",
       200, updateStateLine},
      {"cut to capacity - 1", updateStateReply, 10, "*QESFUD: "},
      {"exactly capacity - 1 long", updateStateReply, 39, updateStateLine},
      {"one byte: only the terminator", updateStateReply, 1, ""},
      // The 2048-byte reply keeps 2047 bytes: 12 of echo, then the wide
      // line's first 2035 bytes without a line end. The copy ends there.
      {"no line end in what was kept", "AT*QESFUD?\r\n" + wide + "\r\nOK\r\n", 4096, wide.substr(0, 2035)},
  };
  for (const LineRow &row : rows) {
    AnswerAll(row.reply);
    std::vector<char> line((size_t)row.capacity + 16, 'z');
    EXPECT_EQ(ATQueryLine(&device, "AT*QESFUD?", line.data(), row.capacity, 4000), 0) << row.name;
    EXPECT_EQ(std::string(line.data()), row.line) << row.name;
    // Nothing is written behind the terminator: the copy reads no further
    // than the reply's own text.
    for (size_t i = row.line.size() + 1; i < line.size(); i++) ASSERT_EQ(line[i], 'z') << row.name << " at " << i;
  }
}

TEST_F(AtQueryTest, WritesNoLineForANonPositiveCapacityOrAFailedExchange) {
  const int capacities[] = {0, -1};
  for (int capacity : capacities) {
    AnswerAll(updateStateReply);
    char line[8] = "zzzzzzz";
    EXPECT_EQ(ATQueryLine(&device, "AT*QESFUD?", line, capacity, 4000), 0) << capacity;
    EXPECT_STREQ(line, "zzzzzzz") << capacity;
  }
  AnswerAll("ERROR\r\n");
  char line[8] = "zzzzzzz";
  EXPECT_EQ(ATQueryLine(&device, "AT*QESFUD?", line, (int)sizeof line, 4000), 4);
  EXPECT_STREQ(line, "zzzzzzz");
  AnswerAll("");
  EXPECT_EQ(ATQueryLine(&device, "AT*QESFUD?", line, (int)sizeof line, 1000), 2);
  EXPECT_STREQ(line, "zzzzzzz");
}

}  // namespace
