// The trace line's format, its limits and the FATAL exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fakes/fake_clock.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_process.h"
#include "log/trace_log.h"
#include "support/temp_files.h"

namespace {

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeClockReset();
    fakeClock.tick = 123456;
    fakeDebugLines.clear();
    fakeExitCodes.clear();
    traceFilePath[0] = '\0';
  }
  void TearDown() override { traceFilePath[0] = '\0'; }
};

TEST_F(TraceLogTest, BuildsTheLineToTheCharacter) {
  TraceLog(TRACE_DEBUG, "..\\..\\..\\src\\sf_link", 57, "SFOpen", "Go to state %d\n", 0);
  ASSERT_EQ(fakeDebugLines.size(), 1u);
  EXPECT_EQ(fakeDebugLines[0], "..\\..\\..\\src\\sf_link:57 SFOpen: 04:09:05  (123456) DEBUG: Go to state 0\n\n");
}

TEST_F(TraceLogTest, NamesEachLevel) {
  struct Row {
    unsigned level;
    const char *expected;
  } rows[] = {
      {TRACE_FATAL, "FATAL: m\n"}, {TRACE_WARNING, "WARNING: m\n"}, {TRACE_INFO, "INFO: m\n"},
      {TRACE_DEBUG, "DEBUG: m\n"}, {TRACE_ENTER, "ENTERm\n"},        {TRACE_EXIT, "EXITm\n"},
      {9, "EXITm\n"},
  };
  for (const Row &row : rows) {
    fakeDebugLines.clear();
    TraceLog(row.level, "s", 1, "f", "m");
    ASSERT_EQ(fakeDebugLines.size(), 1u) << row.level;
    EXPECT_EQ(fakeDebugLines[0], std::string("s:1 f: 04:09:05  (123456) ") + row.expected) << row.level;
  }
}

TEST_F(TraceLogTest, PrintsTheTickSigned) {
  fakeClock.tick = 0xFFFFFFFEu;
  TraceLog(TRACE_INFO, "s", 1, "f", "x");
  EXPECT_NE(fakeDebugLines.at(0).find(" (-2) INFO: x\n"), std::string::npos);
}

TEST_F(TraceLogTest, CutsALongMessageAndStillEndsTheLine) {
  std::string message(10000, 'm');
  TraceLog(TRACE_INFO, "s", 1, "f", "%s", message.c_str());
  const std::string &line = fakeDebugLines.at(0);
  EXPECT_EQ(line.size(), 4095u);
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line[line.size() - 2], 'm');
}

TEST_F(TraceLogTest, SurvivesAHeaderLongerThanTheBuffer) {
  std::string source(6000, 's');
  TraceLog(TRACE_INFO, source.c_str(), 1, "f", "message");
  const std::string &line = fakeDebugLines.at(0);
  EXPECT_LE(line.size(), 4095u);
  EXPECT_EQ(line.back(), '\n');
}

TEST_F(TraceLogTest, FatalEndsTheProcessAfterTheLine) {
  TraceLog(TRACE_WARNING, "s", 1, "f", "w");
  EXPECT_TRUE(fakeExitCodes.empty());
  TraceLog(TRACE_FATAL, "s", 1, "f", "dead");
  ASSERT_EQ(fakeDebugLines.size(), 2u);
  EXPECT_EQ(fakeExitCodes, std::vector<int>{1});
}

TEST_F(TraceLogTest, CopiesToATraceFileAndIgnoresOneThatCannotOpen) {
  TempFolder folder;
  const std::string path = folder.File("trace.txt");
  ASSERT_LT(path.size(), sizeof traceFilePath);
  std::snprintf(traceFilePath, sizeof traceFilePath, "%s", path.c_str());
  TraceLog(TRACE_INFO, "s", 1, "f", "one");
  EXPECT_EQ(ReadBytes(path), fakeDebugLines.at(0));

  std::snprintf(traceFilePath, sizeof traceFilePath, "%s", "/nonexistent-dir/trace.txt");
  TraceLog(TRACE_INFO, "s", 1, "f", "two");
  EXPECT_EQ(fakeDebugLines.size(), 2u);
}

// The call-site filter: a file's threshold decides before anything runs.
namespace devices_file {
static const unsigned traceThreshold = 3;
static const char traceSource[] = "..\\..\\..\\src\\devices";
int formatted;
int Count() { return ++formatted; }
void Emit() {
  TRACE(TRACE_DEBUG, "dropped %d\n", Count());
  TRACE(TRACE_INFO, "kept %d\n", Count());
}
}  // namespace devices_file

TEST_F(TraceLogTest, FiltersAtTheCallSiteWithoutFormatting) {
  devices_file::formatted = 0;
  devices_file::Emit();
  ASSERT_EQ(fakeDebugLines.size(), 1u);
  EXPECT_NE(fakeDebugLines[0].find("src\\devices:"), std::string::npos);
  EXPECT_NE(fakeDebugLines[0].find(" Emit: "), std::string::npos);
  EXPECT_NE(fakeDebugLines[0].find("INFO: kept 1\n"), std::string::npos);
  EXPECT_EQ(devices_file::formatted, 1);
}

}  // namespace
