// Serial port layer over the fake comm calls and the virtual clock.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_debug_output.h"
#include "serial/winserial.h"
#include "support/trace_lines.h"

namespace {

const char kPort[] = "\\\\.\\COM7";

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { CloseAll(); }
  // What a fresh test finds: the one way a table's rows start over.
  static void Reset() {
    CloseAll();
    FakeCommReset();
    FakeClockReset();
    fakeDebugLines.clear();
  }
  // The connection table lives for the process: leave it empty for the next test.
  static void CloseAll() {
    for (int connection = 1; connection < SERIAL_CONNECTIONS; connection++) SerialClose(connection);
  }

  // An open port with a clean record of calls, lines and time.
  int OpenQuietly(const char *path = kPort) {
    if (fakeComm.ports.count(path) == 0) FakeCommAddPort(path);
    int connection = SerialOpen(path, 9600);
    EXPECT_GT(connection, 0);
    fakeComm.calls.clear();
    fakeClock.sleeps.clear();
    fakeDebugLines.clear();
    start = fakeClock.tick;
    return connection;
  }

  uint32_t Elapsed() const { return fakeClock.tick - start; }

  uint32_t start = 0;
};

// --- SerialOpen ------------------------------------------------------------

TEST_F(SerialTest, OpenConfiguresThePortStepByStep) {
  FakePort &port = FakeCommAddPort(kPort);
  unsigned char driversDcb[sizeof port.state.native];
  std::memcpy(driversDcb, port.state.native, sizeof driversDcb);

  ASSERT_EQ(SerialOpen(kPort, 9600), 1);

  EXPECT_EQ(FakeCommCallNames(),
            (std::vector<std::string>{"CreateFileA", "SetupComm", "GetCommState", "SetCommState", "GetCommTimeouts",
                                      "SetCommTimeouts", "GetCommProperties", "PurgeComm", "FlushFileBuffers"}));
  const FakeCommCall *create = FakeCommLast("CreateFileA");
  EXPECT_EQ(create->bytes, kPort);
  // Read and write, exclusive, open existing, normal attributes (no overlapped I/O).
  EXPECT_EQ(create->args, (std::vector<uint32_t>{0xC0000000u, 0, 3, 0x80}));
  EXPECT_EQ(FakeCommLast("SetupComm")->args, (std::vector<uint32_t>{20000, 20000}));

  EXPECT_EQ(port.state.baudRate, 9600u);
  EXPECT_EQ(port.state.byteSize, 8);
  EXPECT_EQ(port.state.parity, 0);
  EXPECT_EQ(port.state.stopBits, 0);
  EXPECT_EQ(port.state.abortOnError, 1);
  EXPECT_EQ(std::memcmp(port.state.native, driversDcb, sizeof driversDcb), 0) << "driver's other DCB flags kept";

  EXPECT_EQ(port.timeouts.readIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(port.timeouts.readTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(port.timeouts.readTotalTimeoutConstant, 1000u);
  EXPECT_EQ(port.timeouts.writeTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(port.timeouts.writeTotalTimeoutConstant, 1000u);
  EXPECT_EQ(FakeCommLast("PurgeComm")->args, (std::vector<uint32_t>{0x0F}));
  EXPECT_EQ(fakeClock.sleeps, (std::vector<int>{50}));

  std::vector<TraceEntry> traces = Traces();
  ASSERT_EQ(traces.size(), 3u);
  EXPECT_EQ(traces[0].message, "dwMaxTxQueue=4096\n");
  EXPECT_EQ(traces[1].message, "dwMaxRxQueue=8192\n");
  EXPECT_EQ(traces[2].message, "New connection 1, 0x100\n");
  for (const TraceEntry &entry : traces) {
    EXPECT_EQ(entry.level, "DEBUG");
    EXPECT_EQ(entry.function, "SerialOpen");
  }
  EXPECT_EQ(fakeDebugLines[0].rfind("..\\..\\..\\src\\winserial:", 0), 0u) << fakeDebugLines[0];
}

TEST_F(SerialTest, OpenTracesOnlyTheLowHalfOfAWideHandle) {
  fakeComm.firstHandle = 0x123400000ABCull;
  FakeCommAddPort(kPort);
  ASSERT_EQ(SerialOpen(kPort, 9600), 1);
  EXPECT_EQ(Messages("DEBUG").back(), "New connection 1, 0xABC\n");
}

TEST_F(SerialTest, EachFailingConfigurationStepClosesTheHandle) {
  struct Row {
    const char *call;
    const char *line;
  };
  const Row rows[] = {
      {"SetupComm", "ERROR init serial buffer\n"},
      {"GetCommState", "Error retriving serial params\n"},
      {"SetCommState", "Error setting serial params\n"},
      {"GetCommTimeouts", "Error retrieving serial timeout params\n"},
      {"SetCommTimeouts", "Error setting timeout params\n"},
      {"GetCommProperties", "Error retrieving serial properties params\n"},
  };
  for (const Row &row : rows) {
    Reset();
    FakePort &port = FakeCommAddPort(kPort);
    FakeCommFail(row.call, OS_ERROR_GEN_FAILURE);

    EXPECT_EQ(SerialOpen(kPort, 9600), 0) << row.call;

    std::vector<std::string> names = FakeCommCallNames();
    ASSERT_GE(names.size(), 3u) << row.call;
    EXPECT_EQ(names[names.size() - 3], row.call) << "nothing after the failing step";
    EXPECT_EQ(names[names.size() - 2], "ClearCommError") << row.call;
    EXPECT_EQ(names[names.size() - 1], "CloseHandle") << row.call;
    EXPECT_EQ(port.closes, 1) << row.call;
    EXPECT_TRUE(fakeComm.handles.empty()) << row.call;
    EXPECT_EQ(Messages("WARNING"), (std::vector<std::string>{row.line})) << row.call;
    EXPECT_TRUE(fakeClock.sleeps.empty()) << row.call;

    // No slot was taken: the next open gets the first one.
    EXPECT_EQ(SerialOpen(kPort, 9600), 1) << row.call;
    SerialClose(1);
  }
}

TEST_F(SerialTest, OpenOfAnAbsentOrHeldPortFails) {
  FakeCommAddPort("\\\\.\\COM3").heldElsewhere = true;
  FakeCommAddPort(kPort);
  ASSERT_EQ(SerialOpen(kPort, 9600), 1);
  struct Row {
    const char *name;
    const char *path;
  };
  const Row rows[] = {
      {"no such port", "\\\\.\\COM9"},
      {"held by another program", "\\\\.\\COM3"},
      {"already open here: the open is exclusive", kPort},
  };
  for (const Row &row : rows) {
    fakeComm.calls.clear();
    fakeDebugLines.clear();
    EXPECT_EQ(SerialOpen(row.path, 9600), 0) << row.name;
    EXPECT_EQ(FakeCommCallNames(), (std::vector<std::string>{"CreateFileA"})) << row.name;
    EXPECT_EQ(Messages("WARNING"), (std::vector<std::string>{std::string("Invalid com handle ") + row.path + "\n"}))
        << row.name;
  }
}

TEST_F(SerialTest, OpenTakesTheLowestFreeSlot) {
  FakeCommAddPort("\\\\.\\COM1");
  FakeCommAddPort("\\\\.\\COM2");
  FakeCommAddPort("\\\\.\\COM3");
  EXPECT_EQ(SerialOpen("\\\\.\\COM1", 9600), 1);
  SerialClose(1);
  EXPECT_EQ(SerialOpen("\\\\.\\COM1", 9600), 1) << "reopened after a close";
  EXPECT_EQ(SerialOpen("\\\\.\\COM2", 9600), 2);
  SerialClose(1);
  EXPECT_EQ(SerialOpen("\\\\.\\COM3", 9600), 1) << "the gap is filled first";
  EXPECT_EQ(SerialOpen("\\\\.\\COM1", 9600), 3);
}

TEST_F(SerialTest, OpenWithEverySlotTakenClosesThePortAgain) {
  for (int i = 1; i <= 255; i++) FakeCommAddPort("\\\\.\\COM" + std::to_string(i));
  for (int i = 1; i <= 254; i++) ASSERT_EQ(SerialOpen(("\\\\.\\COM" + std::to_string(i)).c_str(), 9600), i);

  fakeComm.calls.clear();
  EXPECT_EQ(SerialOpen("\\\\.\\COM255", 9600), 0);
  EXPECT_EQ(fakeComm.ports["\\\\.\\COM255"].closes, 1);
  EXPECT_EQ(FakeCommCallNames().back(), "CloseHandle");

  SerialClose(254);
  EXPECT_EQ(SerialOpen("\\\\.\\COM255", 9600), 254);
}

// --- invalid connection numbers -------------------------------------------

TEST_F(SerialTest, InvalidConnectionsAreRejectedWithoutTouchingAPort) {
  OpenQuietly();  // slot 1 is in use; the rows never name it
  for (int connection : {0, 255, -1, 2, 500, INT_MIN}) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(SerialRead(connection, buffer, 8, 3000), -1) << connection;
    EXPECT_EQ(SerialWrite(connection, "AT\r", 3), -1) << connection;
    SerialClose(connection);
    char version[16];
    std::memset(version, 'x', sizeof version);
    SerialQueryDriverVersion(connection, version, sizeof version);
    EXPECT_STREQ(version, "") << connection;
  }
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_EQ(fakeComm.handles.size(), 1u) << "slot 1 is still open";
}

// --- SerialRead --------------------------------------------------------------

TEST_F(SerialTest, SilentPortSpendsTheTimeoutInWholeAttempts) {
  struct Row {
    int timeout;
    int attempts;
    bool polls;  // a remainder below one attempt checks the queue once
  };
  const Row rows[] = {
      {120000, 120, false}, {60000, 60, false}, {3000, 3, false}, {1000, 1, false}, {1500, 1, true}, {2999, 2, true},
  };
  for (const Row &row : rows) {
    Reset();
    int connection = OpenQuietly();
    unsigned char buffer[24];
    std::memset(buffer, 0x55, sizeof buffer);

    EXPECT_EQ(SerialRead(connection, buffer, 24, row.timeout), 0) << row.timeout;

    EXPECT_EQ(FakeCommCount("ReadFile"), row.attempts) << row.timeout;
    EXPECT_EQ(Elapsed(), 1000u * row.attempts) << row.timeout;
    // After each empty attempt the port is checked, plus the poll's check.
    EXPECT_EQ(FakeCommCount("ClearCommError"), row.attempts + (row.polls ? 1 : 0)) << row.timeout;
    EXPECT_EQ(FakeCommLast("ReadFile")->args, (std::vector<uint32_t>{24})) << row.timeout;
    EXPECT_TRUE(fakeClock.sleeps.empty()) << row.timeout;
    EXPECT_TRUE(fakeDebugLines.empty()) << row.timeout;
    for (unsigned char byte : buffer) ASSERT_EQ(byte, 0) << row.timeout;
  }
}

TEST_F(SerialTest, PollReadsOnlyWhatIsAlreadyQueued) {
  int connection = OpenQuietly();
  char buffer[8];

  EXPECT_EQ(SerialRead(connection, buffer, 8, 500), 0);
  EXPECT_EQ(FakeCommCallNames(), (std::vector<std::string>{"ClearCommError"}));
  EXPECT_EQ(Elapsed(), 0u) << "an empty poll returns at once";

  fakeComm.calls.clear();
  fakeComm.ports[kPort].input = "OK\r\n";
  EXPECT_EQ(SerialRead(connection, buffer, 8, 500), 4);
  EXPECT_EQ(std::string(buffer, 8), std::string("OK\r\n\0\0\0\0", 8));
  EXPECT_EQ(FakeCommCount("ReadFile"), 1) << "a poll makes a single attempt";
}

TEST_F(SerialTest, ZeroAndNegativeTimeoutsOnlyClearTheBuffer) {
  int connection = OpenQuietly();
  fakeComm.ports[kPort].input = "waiting";
  for (int timeout : {0, -2, -1000, INT_MIN}) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(SerialRead(connection, buffer, 8, timeout), 0) << timeout;
    EXPECT_EQ(std::string(buffer, 8), std::string(8, '\0')) << timeout;
  }
  EXPECT_TRUE(fakeComm.calls.empty());
  EXPECT_EQ(fakeComm.ports[kPort].input, "waiting");
}

TEST_F(SerialTest, ReadReturnsAtOnceWhenTheRequestIsQueued) {
  int connection = OpenQuietly();
  fakeComm.ports[kPort].input = "abcdXYZ";
  char buffer[4];
  EXPECT_EQ(SerialRead(connection, buffer, 4, SERIAL_NO_LIMIT), 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(FakeCommCallNames(), (std::vector<std::string>{"ReadFile"}));
  EXPECT_EQ(Elapsed(), 0u);
  EXPECT_EQ(fakeComm.ports[kPort].input, "XYZ");
}

TEST_F(SerialTest, PartialReadsReturnWhatArrived) {
  int connection = OpenQuietly();
  int attempt = 0;
  // The peer sends two bytes before the first attempt and two more before
  // the third; the fourth and fifth bring nothing.
  fakeComm.ports[kPort].onRead = [&attempt](FakePort &port) {
    attempt++;
    if (attempt == 1) port.input += "ab";
    if (attempt == 3) port.input += "cd";
  };
  unsigned char buffer[24];
  std::memset(buffer, 0x55, sizeof buffer);

  EXPECT_EQ(SerialRead(connection, buffer, 24, 5000), 4);

  EXPECT_EQ(std::string((char *)buffer, 4), "abcd");
  for (int i = 4; i < 24; i++) ASSERT_EQ(buffer[i], 0) << i;
  EXPECT_EQ(FakeCommCount("ReadFile"), 5);
  std::vector<uint32_t> asked;
  for (const FakeCommCall &call : fakeComm.calls)
    if (call.name == "ReadFile") asked.push_back(call.args[0]);
  EXPECT_EQ(asked, (std::vector<uint32_t>{24, 22, 22, 20, 20})) << "each attempt asks for what is missing";
}

TEST_F(SerialTest, APollThatReadsDoesNotBecomeAReadWithoutLimit) {
  // 999 less one attempt is -1, the value that means "no limit".
  int connection = OpenQuietly();
  fakeComm.ports[kPort].input = "a";
  int attempts = 0;
  fakeComm.ports[kPort].onRead = [&attempts](FakePort &) {
    // A read that ran on would meet a vanished port and give -1.
    if (++attempts > 1) FakeCommVanish(kPort, FAKE_VANISH_WINDOWS);
  };
  char buffer[8];
  EXPECT_EQ(SerialRead(connection, buffer, 8, 999), 1);
  EXPECT_EQ(FakeCommCount("ReadFile"), 1);
  EXPECT_EQ(buffer[0], 'a');
}

TEST_F(SerialTest, VanishedPortEndsAReadOnTheFourthFailure) {
  struct Row {
    const char *name;
    int mode;
    const char *failure;
    int reads;         // Wine spins through a whole attempt's read of a hung-up tty:
    uint32_t readsMs;  // once the status call has said the port is gone, no more reads
  };
  const Row rows[] = {
      {"Windows: reads fail", FAKE_VANISH_WINDOWS, "Read failed GetLastError 22", 4, 0},
      {"Wine: reads succeed empty, the status call fails", FAKE_VANISH_WINE, "Read failed GetLastError 21", 1, 1000},
  };
  for (const Row &row : rows) {
    for (int timeout : {(int)SERIAL_NO_LIMIT, 120000}) {
      Reset();
      int connection = OpenQuietly();
      FakeCommVanish(kPort, row.mode);
      unsigned char buffer[1] = {0x55};

      EXPECT_EQ(SerialRead(connection, buffer, 1, timeout), -1) << row.name << " " << timeout;

      EXPECT_EQ(buffer[0], 0) << row.name;
      EXPECT_EQ(FakeCommCount("ReadFile"), row.reads) << row.name << " " << timeout;
      EXPECT_EQ(fakeClock.sleeps, (std::vector<int>{100, 100, 100})) << row.name;
      EXPECT_EQ(Elapsed(), row.readsMs + 300) << row.name;
      std::vector<std::string> expected;
      for (int i = 0; i < 4; i++) {
        expected.push_back(row.failure);
        expected.push_back("ErrorFlags 0\n");
      }
      EXPECT_EQ(Messages("WARNING"), expected) << row.name;
      for (const TraceEntry &entry : Traces()) EXPECT_EQ(entry.function, "SerialRead") << row.name;
    }
  }
}

TEST_F(SerialTest, AStatusCallThatRecoversLetsTheNextAttemptRead) {
  // One failed status call after an empty read is a failed attempt, not a
  // port given up: once the status call answers again, the bytes are read.
  int connection = OpenQuietly();
  FakePort &port = fakeComm.ports[kPort];
  int reads = 0;
  port.onRead = [&reads](FakePort &p) {
    if (++reads == 2) p.input = "x";
  };
  FakeCommScript("ClearCommError", {{0, 21}});
  char buffer[1];

  EXPECT_EQ(SerialRead(connection, buffer, 1, SERIAL_NO_LIMIT), 1);

  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(FakeCommCount("ReadFile"), 2);
  EXPECT_EQ(fakeClock.sleeps, (std::vector<int>{100}));
  EXPECT_EQ(Messages("WARNING"), (std::vector<std::string>{"Read failed GetLastError 21", "ErrorFlags 0\n"}));
}

TEST_F(SerialTest, FailedAttemptsCountOverTheWholeRead) {
  struct Row {
    const char *name;
    std::vector<FakeCommResult> script;
    int result;
    std::vector<int> sleeps;
  };
  const Row rows[] = {
      {"three failures, then the bytes", {{0, 31}, {0, 31}, {0, 31}}, 4, {100, 100, 100}},
      {"a success between does not reset the count", {{0, 31}, {1, 0}, {0, 31}, {0, 31}, {0, 31}}, -1,
       {100, 100, 100}},
  };
  for (const Row &row : rows) {
    Reset();
    int connection = OpenQuietly();
    FakePort &port = fakeComm.ports[kPort];
    // Two bytes come with each successful attempt.
    port.onRead = [](FakePort &p) { p.input += "ok"; };
    FakeCommScript("ReadFile", row.script);
    char buffer[4];

    EXPECT_EQ(SerialRead(connection, buffer, 4, SERIAL_NO_LIMIT), row.result) << row.name;
    EXPECT_EQ(fakeClock.sleeps, row.sleeps) << row.name;
  }
}

TEST_F(SerialTest, ReadFailureTracesTheLineErrorFlags) {
  int connection = OpenQuietly();
  fakeComm.ports[kPort].errorFlags = 0x8;  // CE_FRAME
  FakeCommFail("ReadFile", OS_ERROR_GEN_FAILURE);
  fakeComm.ports[kPort].input = "x";
  char buffer[1];
  EXPECT_EQ(SerialRead(connection, buffer, 1, 3000), 1);
  EXPECT_EQ(Messages("WARNING"), (std::vector<std::string>{"Read failed GetLastError 31", "ErrorFlags 8\n"}));
}

TEST_F(SerialTest, ReadRejectsANegativeLength) {
  int connection = OpenQuietly();
  char buffer[4];
  EXPECT_EQ(SerialRead(connection, buffer, -5, 3000), -1);
  EXPECT_EQ(SerialRead(connection, nullptr, 4, 3000), -1);
  EXPECT_EQ(SerialRead(connection, buffer, 0, 3000), 0);
  EXPECT_TRUE(fakeComm.calls.empty());
}

// --- SerialWrite --------------------------------------------------------------

TEST_F(SerialTest, WriteSendsOnceAndThePeerAnswers) {
  int connection = OpenQuietly();
  FakePort &port = fakeComm.ports[kPort];
  port.responder = [](FakePort &p, const std::string &written) {
    if (written == "AT+CGMM\r") p.input += "\r\nM7120x\r\n\r\nOK\r\n";
  };
  EXPECT_EQ(SerialWrite(connection, "AT+CGMM\r", 8), 8);
  EXPECT_EQ(port.written, "AT+CGMM\r");
  char reply[32];
  EXPECT_EQ(SerialRead(connection, reply, 20, 1000), 16);
  EXPECT_EQ(std::string(reply, 16), "\r\nM7120x\r\n\r\nOK\r\n");

  port.writeLimit = 3;  // the write timeout expired part way
  EXPECT_EQ(SerialWrite(connection, "ABCDEF", 6), 3);
  EXPECT_EQ(FakeCommCount("WriteFile"), 2);
}

TEST_F(SerialTest, FailedWriteIsTracedAndNotRetried) {
  struct Row {
    const char *name;
    bool vanish;
    const char *failure;
  };
  const Row rows[] = {
      {"driver error", false, "Write failed GetLastError 31"},
      {"port gone under Wine", true, "Write failed GetLastError 21"},
  };
  for (const Row &row : rows) {
    Reset();
    int connection = OpenQuietly();
    fakeComm.ports[kPort].errorFlags = 0x10;  // CE_BREAK
    if (row.vanish)
      FakeCommVanish(kPort, FAKE_VANISH_WINE);
    else
      FakeCommFail("WriteFile", OS_ERROR_GEN_FAILURE);

    EXPECT_EQ(SerialWrite(connection, "AT\r", 3), 0) << row.name;

    EXPECT_EQ(FakeCommCallNames(), (std::vector<std::string>{"WriteFile", "ClearCommError"})) << row.name;
    EXPECT_EQ(Messages("WARNING"),
              (std::vector<std::string>{row.failure, row.vanish ? "ErrorFlags 0\n" : "ErrorFlags 16\n"}))
        << row.name;
    EXPECT_EQ(Traces()[0].function, "SerialWrite");
  }
}

// --- SerialClose ----------------------------------------------------------------

TEST_F(SerialTest, CloseReleasesThePortAndTheSlot) {
  int connection = OpenQuietly();
  SerialClose(connection);
  EXPECT_EQ(FakeCommCallNames(), (std::vector<std::string>{"PurgeComm", "FlushFileBuffers", "CloseHandle"}));
  EXPECT_EQ(FakeCommLast("PurgeComm")->args, (std::vector<uint32_t>{0x0F}));
  EXPECT_EQ(fakeComm.ports[kPort].closes, 1);
  char buffer[1];
  EXPECT_EQ(SerialRead(connection, buffer, 1, 1000), -1);
  SerialClose(connection);
  EXPECT_EQ(FakeCommCount("CloseHandle"), 1) << "a second close does nothing";
}

TEST_F(SerialTest, CloseOfAVanishedPortStillFreesTheSlot) {
  int connection = OpenQuietly();
  FakeCommVanish(kPort, FAKE_VANISH_WINDOWS);
  SerialClose(connection);
  EXPECT_TRUE(fakeComm.handles.empty());
  FakeCommReplug(kPort);
  EXPECT_EQ(SerialOpen(kPort, 9600), connection) << "the module came back: same slot";
}

// --- SerialQueryDriverVersion ------------------------------------------------------

TEST_F(SerialTest, DriverVersionIsAlwaysATerminatedText) {
  struct Row {
    const char *name;
    std::string driverVersion;  // empty: the request fails
    int64_t driverReturned;     // -1: the count of bytes copied
    int capacity;
    std::string expected;
  };
  const Row rows[] = {
      {"terminated text", std::string("2.1.0.7\0", 8), -1, 255, "2.1.0.7"},
      {"unterminated text", "2.1.0.7", -1, 255, "2.1.0.7"},
      {"request fails, as on a pty", "", -1, 255, ""},
      {"text fills the buffer", std::string(300, 'v'), -1, 255, std::string(254, 'v')},
      {"count beyond the buffer", "abc", 100000, 8, "abcxxxx"},
      {"count shorter than the text", "abcdef", 3, 255, "abc"},
      {"room for the terminator only", "abc", -1, 1, ""},
  };
  for (const Row &row : rows) {
    Reset();
    int connection = OpenQuietly();
    fakeComm.ports[kPort].driverVersion = row.driverVersion;
    fakeComm.ports[kPort].driverReturned = row.driverReturned;
    std::vector<char> text(row.capacity + 1, 'x');
    text[row.capacity] = '#';  // beyond the capacity: must stay

    SerialQueryDriverVersion(connection, text.data(), row.capacity);

    EXPECT_EQ(std::string(text.data()), row.expected) << row.name;
    EXPECT_EQ(text[row.capacity], '#') << row.name;
    EXPECT_EQ(FakeCommLast("DeviceIoControl")->args, (std::vector<uint32_t>{0x001B2024, 0, (uint32_t)row.capacity}))
        << row.name;
    EXPECT_TRUE(fakeDebugLines.empty()) << "no trace line for a failed request: " << row.name;
  }
}

}  // namespace
