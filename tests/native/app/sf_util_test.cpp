// The connection-manager hand-off: where the console program is looked
// for, the command lines it gets, the bounded wait, and every way the
// hand-off gives up quietly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/sf_util.h"
#include "fakes/fake_child_process.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_debug_output.h"
#include "fakes/fake_file_attributes.h"
#include "fakes/fake_registry.h"
#include "support/shared_texts.h"
#include "support/trace_lines.h"

namespace {

const char program[] = "Corvin.KVT.Console.exe";
const uint32_t archive = 0x20;  // FILE_ATTRIBUTE_ARCHIVE: a plain file

class KvtTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFakes(); }
  void TearDown() override { ResetFakes(); }
  static void ResetFakes() {
    FakeClockReset();
    FakeRegistryReset();
    FakeChildProcessReset();
    FakeFileAttributesReset();
    fakeDebugLines.clear();
  }
  // The connection manager's key, with InstalledPath as given.
  static FakeRegKey &Key(const std::string &data, uint32_t type = OS_REG_SZ) {
    FakeRegKey &key = FakeRegistryAddKey(kvtKey);
    key.values.push_back({"InstalledPath", type, data});
    return key;
  }
  // A connection manager installed in `folder`, its console program present.
  static void Install(const std::string &folder) {
    Key(FakeRegText(folder));
    fakeFileAttributes.files[folder + program] = archive;
  }
  static std::vector<std::string> CommandLines() {
    std::vector<std::string> lines;
    for (const FakeChildStart &start : fakeChildProcess.starts) lines.push_back(start.commandLine);
    return lines;
  }
  // Whatever the path, the key and the child's handles are given back.
  static void ExpectNothingLeftOpen() {
    EXPECT_TRUE(fakeRegistry.open.empty()) << "registry key left open";
    EXPECT_TRUE(fakeChildProcess.open.empty()) << "process or thread handle left open";
  }
};

struct CommandRow {
  const char *name;
  int mode;
  const char *folder;
  const char *commandLine;
};

TEST_F(KvtTest, StartsTheConsoleProgramByItsPathWithAQuotedCommandLine) {
  const CommandRow rows[] = {
      {"release", KVT_RELEASE, "C:\\Corvin\\", "\"C:\\Corvin\\Corvin.KVT.Console.exe\" /releasewwan"},
      {"regain", KVT_REGAIN, "C:\\Corvin\\", "\"C:\\Corvin\\Corvin.KVT.Console.exe\" /regainwwan"},
      {"any other mode regains", 7, "C:\\Corvin\\", "\"C:\\Corvin\\Corvin.KVT.Console.exe\" /regainwwan"},
      {"a negative mode regains", -1, "C:\\Corvin\\", "\"C:\\Corvin\\Corvin.KVT.Console.exe\" /regainwwan"},
      {"folder with blanks", KVT_RELEASE, "C:\\Program Files\\Corvin Panel\\",
       "\"C:\\Program Files\\Corvin Panel\\Corvin.KVT.Console.exe\" /releasewwan"},
  };
  for (const CommandRow &row : rows) {
    SCOPED_TRACE(row.name);
    ResetFakes();
    Install(row.folder);
    corvinKvtCtrl(row.mode);
    ASSERT_EQ(fakeChildProcess.starts.size(), 1u);
    // The application name is the checked path itself, so the system never
    // guesses where the program name ends.
    EXPECT_EQ(fakeChildProcess.starts[0].application, std::string(row.folder) + program);
    EXPECT_EQ(fakeChildProcess.starts[0].commandLine, row.commandLine);
    EXPECT_EQ(fakeFileAttributes.queries, std::vector<std::string>{std::string(row.folder) + program});
    EXPECT_EQ(fakeChildProcess.waitTimeouts, std::vector<int>{120000});
    EXPECT_TRUE(fakeDebugLines.empty()) << "a hand-off that works traces nothing at threshold 2";
    ExpectNothingLeftOpen();
  }
}

TEST_F(KvtTest, OpensTheKeyInThe64BitViewForReadingAndReadsAtMost200Bytes) {
  Install("C:\\Corvin\\");
  corvinKvtCtrl(KVT_RELEASE);
  ASSERT_EQ(fakeRegistry.calls.size(), 3u);
  EXPECT_EQ(fakeRegistry.calls[0].name, "RegOpenKeyExA");
  EXPECT_EQ(fakeRegistry.calls[0].key, kvtKey);
  EXPECT_EQ(fakeRegistry.calls[0].dataSize, (uint32_t)(OS_KEY_READ | OS_KEY_WOW64_64KEY)) << "access";
  EXPECT_EQ(fakeRegistry.calls[1].name, "RegQueryValueExA");
  EXPECT_EQ(fakeRegistry.calls[1].dataSize, 200u);
  // Closed before the program runs: the key is not held for two minutes.
  EXPECT_EQ(fakeRegistry.calls[2].name, "RegCloseKey");
}

struct FailureRow {
  const char *name;
  void (*arrange)();
  size_t starts;                      // console programs started
  std::vector<std::string> warnings;  // the only lines traced, all WARNING
};

const std::string longFolder = "C:\\" + std::string(192, 'a') + "\\";  // 196 characters

TEST_F(KvtTest, GivesUpQuietlyWhereverTheHandOffCannotGoOn) {
  const FailureRow rows[] = {
      {"no connection manager", [] {}, 0, {}},
      {"key refused", [] { FakeRegistryAddKey(kvtKey).openError = OS_ERROR_ACCESS_DENIED; }, 0, {}},
      {"no InstalledPath", [] { FakeRegistryAddKey(kvtKey); }, 0,
       {"Failed to get reg value for InstalledPath ERROR(2)\r\n"}},
      {"expandable string", [] { Key(FakeRegText("%ProgramFiles%\\Corvin\\"), OS_REG_EXPAND_SZ); }, 0,
       {"Failed to get reg value for InstalledPath ERROR(1629)\r\n"}},
      {"binary data", [] { Key(std::string("C:\\\0\0", 5), OS_REG_BINARY); }, 0,
       {"Failed to get reg value for InstalledPath ERROR(1629)\r\n"}},
      {"a number", [] { Key(std::string("\x01\0\0\0", 4), OS_REG_DWORD); }, 0,
       {"Failed to get reg value for InstalledPath ERROR(1629)\r\n"}},
      {"over 200 bytes", [] { Key(FakeRegText(std::string(200, 'a'))); }, 0,
       {"Failed to get reg value for InstalledPath ERROR(234)\r\n"}},
      // Fits the read but leaves no room for the program name: taken as a
      // folder without the console program, so nothing is traced.
      {"200 bytes, no terminator", [] { Key(std::string(200, 'a')); }, 0, {}},
      {"long folder with the program in it",
       [] {
         Key(FakeRegText(longFolder));
         fakeFileAttributes.files[longFolder + program] = archive;
       },
       0, {}},
      {"no trailing backslash",
       [] {
         Key(FakeRegText("C:\\Corvin"));
         fakeFileAttributes.files[std::string("C:\\Corvin\\") + program] = archive;
       },
       0, {}},
      {"console program missing", [] { Key(FakeRegText("C:\\Corvin\\")); }, 0, {}},
      {"start refused",
       [] {
         Install("C:\\Corvin\\");
         fakeChildProcess.startResults.push_back(OS_ERROR_ACCESS_DENIED);
       },
       1, {"CreateProcess Failed ERROR(5).\r\n"}},
      {"wait fails",
       [] {
         Install("C:\\Corvin\\");
         fakeChildProcess.waitResults.push_back(OS_WAIT_FAILED);
       },
       1, {"Waiting for the Corvin KVT console failed (-1), going on\r\n"}},
  };
  for (const FailureRow &row : rows) {
    SCOPED_TRACE(row.name);
    ResetFakes();
    row.arrange();
    corvinKvtCtrl(KVT_RELEASE);
    EXPECT_EQ(fakeChildProcess.starts.size(), row.starts);
    EXPECT_EQ(Messages("WARNING"), row.warnings);
    EXPECT_EQ(fakeDebugLines.size(), row.warnings.size()) << "only WARNING lines pass threshold 2";
    for (const TraceEntry &entry : Traces()) {
      EXPECT_EQ(entry.source, "..\\..\\..\\src\\sf_util");
      EXPECT_EQ(entry.function, "corvinKvtCtrl");
    }
    ExpectNothingLeftOpen();
  }
}

TEST_F(KvtTest, AValueWithoutATerminatorEndsWhereItsDataEnds) {
  Key("C:\\Corvin\\");  // no NUL stored
  fakeFileAttributes.files[std::string("C:\\Corvin\\") + program] = archive;
  corvinKvtCtrl(KVT_REGAIN);
  EXPECT_EQ(CommandLines(), std::vector<std::string>{"\"C:\\Corvin\\Corvin.KVT.Console.exe\" /regainwwan"});
}

// Folder, program name and switch may take 199 characters, counted
// without the quotes around the path, and always with the release switch
// (one character longer): a folder either allows both the release and
// the regain or neither, so a released module is always taken back.
TEST_F(KvtTest, TheCommandLineFitsIn199CharactersForBothModesOrForNeither) {
  struct Row {
    const char *name;
    int mode;
    size_t folderLength;
    bool runs;
  } rows[] = {
      {"release at 199", KVT_RELEASE, 164, true},
      {"regain beside a release at 199", KVT_REGAIN, 164, true},
      {"release at 200", KVT_RELEASE, 165, false},
      {"regain beside a release at 200", KVT_REGAIN, 165, false},
      {"a shorter folder releases", KVT_RELEASE, 163, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    ResetFakes();
    const std::string folder = "C:\\" + std::string(row.folderLength - 4, 'f') + "\\";
    ASSERT_EQ(folder.size(), row.folderLength);
    Install(folder);
    corvinKvtCtrl(row.mode);
    ASSERT_EQ(fakeChildProcess.starts.size(), row.runs ? 1u : 0u);
    if (row.runs) {
      const std::string modeSwitch = row.mode == KVT_RELEASE ? " /releasewwan" : " /regainwwan";
      EXPECT_EQ(fakeChildProcess.starts[0].commandLine, "\"" + folder + program + "\"" + modeSwitch);
    }
    // A line too long is not even looked for on disk.
    EXPECT_EQ(fakeFileAttributes.queries.size(), row.runs ? 1u : 0u);
    EXPECT_TRUE(fakeDebugLines.empty());
    ExpectNothingLeftOpen();
  }
}

TEST_F(KvtTest, AConsoleProgramThatNeverEndsCostsTwoMinutesAndAWarning) {
  Install("C:\\Corvin\\");
  fakeChildProcess.waitResults.push_back(OS_WAIT_TIMEOUT);
  const uint32_t start = fakeClock.tick;
  corvinKvtCtrl(KVT_RELEASE);
  EXPECT_EQ(fakeChildProcess.waitTimeouts, std::vector<int>{120000});
  EXPECT_EQ(fakeClock.tick - start, 120000u);
  EXPECT_EQ(Messages("WARNING"),
            std::vector<std::string>{"Corvin KVT console still running after 120000 ms, going on\r\n"});
  EXPECT_EQ(FunctionOf("still running"), "corvinKvtCtrl");
  ExpectNothingLeftOpen();

  // The next hand-off is not held up by the one left running.
  fakeDebugLines.clear();
  corvinKvtCtrl(KVT_REGAIN);
  EXPECT_EQ(CommandLines().size(), 2u);
  EXPECT_TRUE(fakeDebugLines.empty());
}

}  // namespace
