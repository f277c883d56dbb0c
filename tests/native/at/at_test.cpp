// The AT channel over a fake port that plays the module, on the virtual
// clock: final lines, reply buffer, drain, time-outs, lock and caps.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "at/at.h"
#include "support/module_port_fixture.h"
#include "support/shared_texts.h"
#include "support/trace_lines.h"

namespace {

using AtChannelTest = ModulePortTest;

struct FinalLineRow {
  const char *name;
  std::string reply;  // what the module sends after the command
  int result;
  std::string collected;  // what the reply buffer holds
  std::string leftOver;   // what is still queued afterwards
};

TEST_F(AtChannelTest, CollectsLinesUpToTheFinalResultLine) {
  const std::string longLine(1023, 'x');
  const FinalLineRow rows[] = {
      {"four-line update-state reply", updateStateReply, 0, updateStateReply, ""},
      {"RING in the middle is neither kept nor final",
       "AT*QESFUD?\r\nRING\r\n*QESFUD: {state 0}\r\nOK\r\n", 0, "AT*QESFUD?\r\n*QESFUD: {state 0}\r\nOK\r\n", ""},
      {"a RING line ending in , OK does not end the wait", "RING, OK\r\n", 2, "", ""},
      {"result at the end of a data line", "GDRE: 0X00,0XF9,0XEE,0XE2, OK\r\n", 0,
       "GDRE: 0X00,0XF9,0XEE,0XE2, OK\r\n", ""},
      {"failure at the end of a data line", "GDRE: 0X00, ERROR\r\n", 4, "GDRE: 0X00, ERROR\r\n", ""},
      {"ERROR line", "\r\nERROR\r\n", 4, "\r\nERROR\r\n", ""},
      {"an OK line reporting an Error fails", "OK: Error 3\r\n", 4, "OK: Error 3\r\n", ""},
      {"comparisons are case-sensitive", "ok\r\nerror\r\n", 2, "ok\r\nerror\r\n", ""},
      {"+CME ERROR is not a final line", "+CME ERROR: 10\r\n", 2, "+CME ERROR: 10\r\n", ""},
      {"a final line without its LF is lost in the silence", "\r\nOK", 2, "\r\n", ""},
      {"NUL ends a line", std::string("OK\0", 3), 0, "OK", ""},
      {"lines after the final one stay queued", "OK\r\nlate\r\n", 0, "OK\r\n", "late\r\n"},
      {"a long line comes in pieces of 1023 bytes", longLine + "OK\r\n", 0, longLine + "OK\r\n", ""},
  };
  for (const FinalLineRow &row : rows) {
    port->input.clear();
    AnswerAll(row.reply);
    char reply[4096];
    EXPECT_EQ(ATSendCmd(&device, "AT*QESFUD?", reply, (int)sizeof reply, 1000), row.result) << row.name;
    EXPECT_EQ(std::string(reply), row.collected) << row.name;
    EXPECT_EQ(port->input, row.leftOver) << row.name;
  }
}

TEST_F(AtChannelTest, SendsTheCommandAndItsLineEndInTwoWrites) {
  AnswerAll("OK\r\n");
  EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", nullptr, 0, 1000), 0);
  EXPECT_EQ(WrittenChunks(), (std::vector<std::string>{"AT+CGMM", "\r\n"}));
}

TEST_F(AtChannelTest, DrainsStaleInputBeforeWriting) {
  port->input = "late reply\r\nERROR\r\n";  // left over from an earlier command
  AnswerAll("OK\r\n");
  char reply[200];
  EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", reply, 200, 1000), 0);
  ASSERT_EQ(module->inputAtCommand.size(), 1u);
  EXPECT_EQ(module->inputAtCommand[0], "");
  EXPECT_STREQ(reply, "OK\r\n");
}

TEST_F(AtChannelTest, KeepsCapacityLessOneBytesOfALongReply) {
  std::string lines;
  while (lines.size() < 296) lines += "+LINE: 0123456789\r\n";
  lines += "OK\r\n";
  const int capacities[] = {200, 2, 1, 0};
  for (int capacity : capacities) {
    AnswerAll(lines);
    char buffer[256];
    std::memset(buffer, 0x55, sizeof buffer);
    // The final line lies beyond what is kept and still decides.
    EXPECT_EQ(ATSendCmd(&device, "AT*QVERS", buffer, capacity, 1000), 0) << capacity;
    int kept = capacity > 0 ? capacity - 1 : 0;
    EXPECT_EQ(std::string(buffer, kept), lines.substr(0, kept)) << capacity;
    if (capacity > 0) {
      EXPECT_EQ(buffer[kept], '\0') << capacity;
    }
    for (int i = capacity; i < (int)sizeof buffer; i++) ASSERT_EQ(buffer[i], 0x55) << capacity << " at " << i;
  }
}

struct SilenceRow {
  int timeoutMs;
  int attempts;
};

TEST_F(AtChannelTest, GivesUpOnASilentModuleAfterTheTimeoutsAttempts) {
  const SilenceRow rows[] = {{1000, 1}, {3000, 3}, {4000, 4}};
  for (const SilenceRow &row : rows) {
    fakeComm.calls.clear();
    uint32_t start = fakeClock.tick;
    char reply[200];
    EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", reply, 200, row.timeoutMs), 2) << row.timeoutMs;
    EXPECT_EQ(FakeCommCount("ReadFile"), row.attempts) << row.timeoutMs;
    EXPECT_EQ(fakeClock.tick - start, (uint32_t)row.attempts * 1000) << row.timeoutMs;
    EXPECT_STREQ(reply, "") << row.timeoutMs;
  }
}

TEST_F(AtChannelTest, TimesEachByteSoASlowReplyIsNotCutShort) {
  const std::string slow = "\r\n+CGMM: M7120x\r\n\r\nOK\r\n";
  auto next = std::make_shared<size_t>(0);
  AnswerAll("");
  port->onRead = [next, slow](FakePort &p) {
    if (*next >= slow.size()) return;
    fakeClock.tick += 900;
    p.input += slow[(*next)++];
  };
  char reply[200];
  uint32_t start = fakeClock.tick;
  EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", reply, 200, 1000), 0);
  EXPECT_STREQ(reply, slow.c_str());
  EXPECT_GT(fakeClock.tick - start, 10u * 1000);
}

TEST_F(AtChannelTest, FailsWhenTheDeviceReadFails) {
  // Stale input makes the drain read, and every attempt fails.
  port->input = "stale";
  FakeCommFail("ReadFile", OS_ERROR_GEN_FAILURE, 4);
  AnswerAll("OK\r\n");
  EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", nullptr, 0, 1000), 4);
  EXPECT_TRUE(WrittenChunks().empty()) << "a failed drain sends nothing";

  // The port goes away under the wait.
  port->input.clear();
  port->responder = [](FakePort &p, const std::string &bytes) {
    if (bytes == "\r\n") FakeCommVanish(p.path, FAKE_VANISH_WINDOWS);
  };
  EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", nullptr, 0, 4000), 4);
}

TEST_F(AtChannelTest, RefusesWithoutADeviceOrACommand) {
  EXPECT_EQ(ATSendCmd(nullptr, "AT+CGMM", nullptr, 0, 1000), 4);
  EXPECT_TRUE(fakeComm.calls.empty());

  char reply[16];
  std::memset(reply, 'x', sizeof reply);
  EXPECT_EQ(ATSendCmd(&device, nullptr, reply, (int)sizeof reply, 1000), 4);
  EXPECT_TRUE(WrittenChunks().empty());
  EXPECT_EQ(fakeSync.releases, 1) << "the lock is given back";

  SerialDevice closed = device;
  closed.connection = 0;  // a device whose re-open failed
  EXPECT_EQ(ATSendCmd(&closed, "AT+CGMM", nullptr, 0, 1000), 4);
  EXPECT_TRUE(WrittenChunks().empty());
}

struct LockRow {
  const char *name;
  int wait;
  int result;
  bool sent;
  bool released;
};

TEST_F(AtChannelTest, ProceedsOnlyWithTheLockAndNeverFreesALockNotTaken) {
  const LockRow rows[] = {
      {"acquired", /*wait=*/OS_WAIT_OBJECT_0, /*result=*/0, /*sent=*/true, /*released=*/true},
      {"abandoned by a dead holder", /*wait=*/OS_WAIT_ABANDONED, /*result=*/0, /*sent=*/true, /*released=*/true},
      {"timed out: another exchange holds it", /*wait=*/OS_WAIT_TIMEOUT, /*result=*/2, /*sent=*/false,
       /*released=*/false},
      {"wait failed", /*wait=*/OS_WAIT_FAILED, /*result=*/4, /*sent=*/false, /*released=*/false},
  };
  for (const LockRow &row : rows) {
    FakeSyncReset();
    fakeComm.calls.clear();
    port->input = "stale\r\n";
    AnswerAll("OK\r\n");
    fakeSync.waitResults.push_back(row.wait);
    EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", nullptr, 0, 4000), row.result) << row.name;
    EXPECT_EQ(fakeSync.lastTimeout, 4000) << row.name;
    EXPECT_EQ(!WrittenChunks().empty(), row.sent) << row.name;
    EXPECT_EQ(fakeSync.releases, row.released ? 1 : 0) << row.name;
    // Without the lock, the other exchange's bytes are not ours to drain.
    if (!row.sent) {
      EXPECT_EQ(port->input, "stale\r\n") << row.name;
    }
  }
}

TEST_F(AtChannelTest, HoldsTheLockFromTheDrainToTheFinalLine) {
  int releasesAtWrite = -1;
  port->input = "stale";
  port->responder = [&releasesAtWrite](FakePort &p, const std::string &bytes) {
    if (bytes != "\r\n") return;
    releasesAtWrite = fakeSync.releases;
    p.input += "OK\r\n";
  };
  EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", nullptr, 0, 1000), 0);
  EXPECT_EQ(fakeSync.waits, 1);
  EXPECT_EQ(releasesAtWrite, 0);
  EXPECT_EQ(fakeSync.releases, 1);
}

struct StreamRow {
  const char *name;
  std::string chunk;  // what the port adds before every read
  uint32_t stepMs;    // and how much time each read takes
};

// A port that never stops talking (a diagnostic port that looks like the
// module's) must not hold the caller for ever.
TEST_F(AtChannelTest, EndsAnExchangeThatOutlastsTwiceItsTimeoutAndAMinute) {
  const StreamRow rows[] = {
      {"endless lines", "+TRACE: noise\r\n", 100},
      {"endless RINGs", "RING\r\n", 100},
      {"one byte at a time, never a line end", "x", 900},
  };
  const uint32_t limit = 2 * 1000 + 60000;
  // Past this the port falls silent, so an exchange without its bound
  // still ends and fails here instead of hanging the run.
  const uint32_t feedBudgetMs = 3 * limit;
  for (const StreamRow &row : rows) {
    auto talking = std::make_shared<bool>(false);
    auto ranOut = std::make_shared<bool>(false);
    port->input.clear();
    Answer([talking](const std::string &) {
      *talking = true;
      return std::string();
    });
    std::shared_ptr<ScriptedModule> played = module;
    port->onRead = [talking, ranOut, played, row, feedBudgetMs](FakePort &p) {
      if (!*talking || *ranOut) return;
      if (fakeClock.tick - played->tickAtCommand >= feedBudgetMs) {
        *ranOut = true;
        return;
      }
      p.input += row.chunk;
      fakeClock.tick += row.stepMs;
    };
    EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", nullptr, 0, 1000), 2) << row.name;
    EXPECT_FALSE(*ranOut) << row.name << ": still waiting after " << feedBudgetMs << " ms of input";
    uint32_t lasted = fakeClock.tick - module->tickAtCommand;
    EXPECT_GT(lasted, limit) << row.name;
    EXPECT_LE(lasted, limit + 1000) << row.name;
    EXPECT_TRUE(Traced("WARNING: No final line after")) << row.name;
    fakeDebugLines.clear();
    port->onRead = nullptr;
  }
}

TEST_F(AtChannelTest, StopsDrainingAfter64KiBAndStillSendsTheCommand) {
  // Twice the cap: past it the port falls silent, so a drain without its
  // cap still ends and fails here instead of hanging the run.
  const int feedBudgetReads = 2 * 64 * 1024;
  auto fed = std::make_shared<int>(0);
  port->input = "x";
  port->onRead = [fed, feedBudgetReads](FakePort &p) {
    if (*fed >= feedBudgetReads) return;
    ++*fed;
    p.input += "x";
    fakeClock.tick += 10;
  };
  AnswerAll("");
  EXPECT_EQ(ATSendCmd(&device, "AT+CGMM", nullptr, 0, 1000), 2);
  EXPECT_LT(*fed, feedBudgetReads) << "still draining after " << feedBudgetReads << " bytes";
  int readsBeforeWrite = 0;
  for (const FakeCommCall &call : fakeComm.calls) {
    if (call.name == "WriteFile") break;
    if (call.name == "ReadFile") readsBeforeWrite++;
  }
  EXPECT_EQ(readsBeforeWrite, 64 * 1024);
  EXPECT_EQ(module->commands, std::vector<std::string>{"AT+CGMM"});
}

TEST_F(AtChannelTest, WaitsForAFinalLineWithoutAReplyBuffer) {
  port->input = "\r\nOK\r\n";
  EXPECT_EQ(WaitForResponse(&device, nullptr, 0, 10000), 0);
  EXPECT_EQ(WaitForResponse(&device, nullptr, 0, 10000), 2);
}

struct ReadLineRow {
  const char *name;
  std::string input;
  int capacity;
  int count;
  std::string line;
};

TEST_F(AtChannelTest, ReadsOneLineAtATime) {
  const ReadLineRow rows[] = {
      {"up to and with the LF", "OK\r\nnext\r\n", 1024, 4, "OK\r\n"},
      {"RING lines are skipped", "RING\r\nRING\r\n+CPIN: READY\r\n", 1024, 14, "+CPIN: READY\r\n"},
      {"a full buffer is a line", "ABCDEF\n", 4, 3, "ABC"},
      {"silence abandons a partial line", "ABC", 1024, 0, ""},
      {"nothing fits in one byte", "OK\r\n", 1, 0, ""},
  };
  for (const ReadLineRow &row : rows) {
    port->input = row.input;
    char line[1024];
    std::memset(line, 'z', sizeof line);
    EXPECT_EQ(ATReadLine(&device, line, row.capacity, 1000), row.count) << row.name;
    EXPECT_EQ(std::string(line), row.line) << row.name;
  }
  FakeCommVanish(portPath, FAKE_VANISH_WINDOWS);
  char line[16];
  EXPECT_EQ(ATReadLine(&device, line, (int)sizeof line, 1000), -1);
}

TEST_F(AtChannelTest, FormatsACommandCutTo1023Characters) {
  AnswerAll("OK\r\n");
  EXPECT_EQ(ATSendCmdf(&device, nullptr, 0, 1000, "%s=%d", "AT+CFUN", 1), 0);
  EXPECT_EQ(ATSendCmdf(&device, nullptr, 0, 1000, "%s", std::string(2000, 'A').c_str()), 0);
  EXPECT_EQ(module->commands, (std::vector<std::string>{"AT+CFUN=1", std::string(1023, 'A')}));
}

TEST_F(AtChannelTest, TracesTheWriteAndEachLineRead) {
  AnswerAll("OK\r\n");
  ATSendCmd(&device, "AT+CGMM", nullptr, 0, 1000);
  std::vector<std::string> at;
  for (const std::string &line : fakeDebugLines)
    if (line.rfind("..\\..\\..\\src\\at:", 0) == 0) at.push_back(line);
  ASSERT_EQ(at.size(), 2u);
  EXPECT_NE(at[0].find(" ATSendCmdUnsafe: "), std::string::npos) << at[0];
  EXPECT_NE(at[0].find("INFO: Write [AT+CGMM]\n\n"), std::string::npos) << at[0];
  EXPECT_NE(at[1].find(" WaitForResponse: "), std::string::npos) << at[1];
  EXPECT_NE(at[1].find("INFO: Read buf [OK\r\n], 4\n\n"), std::string::npos) << at[1];
}

}  // namespace

namespace {

// The messages of the channel's own trace lines, in order.
std::vector<std::string> ChannelMessages() {
  std::vector<std::string> messages;
  for (const TraceEntry &entry : Traces())
    if (entry.source == "..\\..\\..\\src\\at") messages.push_back(entry.message);
  return messages;
}

TEST_F(AtChannelTest, MasksTheSecretInEveryTraceLineButNotOnTheWire) {
  port->input.clear();
  Answer([](const std::string &command) {
    return command + "\r\n+CME ERROR: 4711 refused, 4711 again\r\nplain line\r\nERROR\r\n";
  });
  char reply[256];
  EXPECT_EQ(ATSendCmdSecret(&device, "AT+X=\"4711\"", "4711", reply, (int)sizeof reply, 1000), 4);
  EXPECT_EQ(port->written, "AT+X=\"4711\"\r\n");
  EXPECT_EQ(std::string(reply), "AT+X=\"4711\"\r\n+CME ERROR: 4711 refused, 4711 again\r\nplain line\r\nERROR\r\n")
      << "the caller still gets the reply as it came";
  EXPECT_EQ(ChannelMessages(), (std::vector<std::string>{
                                   "Write [AT+X=\"****\"]\n",
                                   "Read buf [AT+X=\"****\"\r\n], 13\n",
                                   "Read buf [+CME ERROR: **** refused, **** again\r\n], 38\n",
                                   "Read buf [plain line\r\n], 12\n",
                                   "Read buf [ERROR\r\n], 7\n",
                               }));
  for (const std::string &line : fakeDebugLines) EXPECT_EQ(line.find("4711"), std::string::npos) << line;

  // Without a secret nothing is masked, and an empty one masks nothing.
  fakeDebugLines.clear();
  AnswerAll("OK\r\n");
  ATSendCmdSecret(&device, "AT+X=\"4711\"", "", nullptr, 0, 1000);
  EXPECT_TRUE(Traced("Write [AT+X=\"4711\"]"));
}

// A command longer than the trace's copy is cut there; a secret that the
// cut splits must not leave its first digits behind.
TEST_F(AtChannelTest, MasksASecretThatTheTracesCutSplits) {
  AnswerAll("OK\r\n");
  const std::string command = std::string(1020, 'A') + "98765";
  EXPECT_EQ(ATSendCmdSecret(&device, command.c_str(), "98765", nullptr, 0, 1000), 0);
  ASSERT_FALSE(ChannelMessages().empty());
  const std::string write = ChannelMessages()[0];
  EXPECT_EQ(write, "Write [" + std::string(1019, 'A') + "****]\n");
  EXPECT_EQ(port->written, command + "\r\n");
}

}  // namespace
