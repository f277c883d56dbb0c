// The trace's hand-off: lines held back in the queue, a full queue, the
// drains before the process ends and before a box, and the order of two
// threads' lines through the real trace thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/run_record.h"
#include "fakes/fake_all.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_process.h"
#include "fakes/fake_ui.h"
#include "log/trace_log.h"
#include "log/trace_queue.h"
#include "support/test_run.h"

namespace {

// Room for three of the long lines below and not for four, whatever the
// queue spends on each line's own record.
const size_t threeLongLines = 3500;
const std::string longText(1000, 'x');

class TraceQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TraceStop();
    ResetAllFakes();
    RunRecordReset(&testRun);
    fakeExitCodes.clear();
    fakeTraceLinesAtExit = 0;
    fakeCrashHandler = nullptr;
  }
  void TearDown() override {
    TraceStop();
    fakeDebugOutputHook = nullptr;
  }
  // As if the trace thread had not had its turn yet: lines stay queued
  // until something drains them.
  static void HoldLines(size_t capacity) { TraceQueueStart(capacity, 0); }
  static void Long(int number) { TraceLog(TRACE_INFO, "s", number, "f", "%s", longText.c_str()); }
  // The line numbers, in the order the debugger output saw the lines.
  static std::vector<int> Numbers() {
    std::vector<int> numbers;
    for (const std::string &line : fakeDebugLines) numbers.push_back(std::stoi(line.substr(2)));
    return numbers;
  }
};

TEST_F(TraceQueueTest, AFullQueueMakesTheCallerWriteAfterTheQueuedLines) {
  HoldLines(threeLongLines);
  long before = TraceQueueOverflows();
  for (int number = 1; number <= 3; number++) Long(number);
  EXPECT_TRUE(fakeDebugLines.empty()) << "three lines fit and wait";

  Long(4);  // does not fit: the caller writes the three, then its own
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(TraceQueueOverflows(), before + 1);

  Long(5);  // the queue has room again
  EXPECT_EQ(fakeDebugLines.size(), 4u);
  TraceFlush();
  EXPECT_EQ(Numbers(), (std::vector<int>{1, 2, 3, 4, 5}));
  // Not cut, not joined: each is the line TraceLog built.
  for (const std::string &line : fakeDebugLines) {
    const std::string tail = "INFO: " + longText + "\n";
    ASSERT_GT(line.size(), tail.size());
    EXPECT_TRUE(line.compare(line.size() - tail.size(), tail.size(), tail) == 0) << line.substr(0, 40);
    EXPECT_EQ(line.find('\n'), line.size() - 1);
  }
}

TEST_F(TraceQueueTest, EveryEndOfTheProcessDrainsTheQueueFirst) {
  struct Row {
    const char *name;
    void (*end)();
    std::vector<int> out;  // the held lines and the end's own
  } rows[] = {
      {"a FATAL line", [] { TraceLog(TRACE_FATAL, "s", 9, "f", "dead"); }, {1, 2, 3, 9}},
      {"a crash", [] { fakeCrashHandler(); }, {1, 2, 3}},
      {"a flush", [] { TraceFlush(); }, {1, 2, 3}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    fakeDebugLines.clear();
    fakeExitCodes.clear();
    HoldLines(TRACE_QUEUE_BYTES);
    ASSERT_NE(fakeCrashHandler, nullptr) << "starting the queue sets the crash handler";
    for (int number = 1; number <= 3; number++) TraceLog(TRACE_INFO, "s", number, "f", "held");
    ASSERT_TRUE(fakeDebugLines.empty());

    row.end();
    EXPECT_EQ(Numbers(), row.out);
    if (row.out.size() == 4) {
      EXPECT_EQ(fakeExitCodes, std::vector<int>{1});
      EXPECT_EQ(fakeTraceLinesAtExit, 4u) << "every line was out before the exit";
    }
    TraceStop();
  }
}

// A crash inside the queue, under its lock: the crash handler must not
// wait for a lock that may never be let go, so the process ends and is
// reported. It writes nothing then; what is queued is not lost if the
// lock is let go after all.
TEST_F(TraceQueueTest, ACrashWhileTheQueueIsLockedWritesNothingAndDoesNotWait) {
  HoldLines(threeLongLines);
  Long(1);
  ASSERT_NE(fakeCrashHandler, nullptr);
  static std::mutex m;
  static std::condition_variable changed;
  static bool handlerReturned;
  static bool returnedWhileLocked;
  static std::thread *crash;
  handlerReturned = returnedWhileLocked = false;
  TraceQueueWhileLocked([] {
    // The crashing thread: another one here, so that a handler that waits
    // for the lock shows as a time-out rather than a hung test.
    crash = new std::thread([] {
      fakeCrashHandler();
      std::lock_guard<std::mutex> held(m);
      handlerReturned = true;
      changed.notify_all();
    });
    std::unique_lock<std::mutex> held(m);
    returnedWhileLocked = changed.wait_for(held, std::chrono::seconds(5), [] { return handlerReturned; });
  });
  crash->join();
  delete crash;
  EXPECT_TRUE(returnedWhileLocked) << "the crash handler waited for the queue's lock";
  std::vector<int> duringCrash = Numbers();
  if (returnedWhileLocked) {
    EXPECT_TRUE(duringCrash.empty()) << "nothing is written under a lock it does not hold";
  }
  TraceFlush();
  EXPECT_EQ(Numbers(), (std::vector<int>{1}));
}

TEST_F(TraceQueueTest, TheLinesBeforeABoxAreOutWhenItShows) {
  HoldLines(TRACE_QUEUE_BYTES);
  TraceLog(TRACE_INFO, "s", 1, "f", "before");
  TraceLog(TRACE_WARNING, "s", 2, "f", "before");
  ShowMessage(testRun.quiet, nullptr, "text", "caption", OS_MB_OK);
  ASSERT_EQ(fakeUi.shown.size(), 1u);
  EXPECT_EQ(fakeUi.shown[0].traceLinesOut, 2u);

  // Quiet, no box shows, and nothing needs to wait for the listener.
  testRun.quiet = 1;
  TraceLog(TRACE_INFO, "s", 3, "f", "held");
  ShowMessage(testRun.quiet, nullptr, "text", "caption", OS_MB_OK);
  EXPECT_EQ(fakeUi.shown.size(), 1u);
  EXPECT_EQ(fakeDebugLines.size(), 2u);
}

// Two threads take turns, each tracing only after the other's line: the
// debugger output must see the turns in order, through the trace thread,
// a slow listener and a queue so small that the callers often find it
// full and write their own lines.
TEST_F(TraceQueueTest, KeepsTheOrderOfTwoThreadsLines) {
  fakeDebugOutputHook = [](const char *) { std::this_thread::yield(); };
  TraceQueueStart(threeLongLines, 1);
  const int turns = 400;
  std::mutex lock;
  std::condition_variable turned;
  int next = 0;  // the number of the next line to trace
  auto player = [&](int parity) {
    for (;;) {
      std::unique_lock<std::mutex> held(lock);
      turned.wait(held, [&] { return next % 2 == parity || next >= turns; });
      if (next >= turns) return;
      Long(next);
      next++;
      turned.notify_all();
    }
  };
  std::thread even(player, 0), odd(player, 1);
  even.join();
  odd.join();
  TraceFlush();

  std::vector<int> expected;
  for (int number = 0; number < turns; number++) expected.push_back(number);
  EXPECT_EQ(Numbers(), expected);
  TraceStop();
  fakeDebugLines.clear();
  TraceLog(TRACE_INFO, "s", 1, "f", "direct again");
  EXPECT_EQ(fakeDebugLines.size(), 1u) << "stopped, each call writes its own line";
}

}  // namespace
