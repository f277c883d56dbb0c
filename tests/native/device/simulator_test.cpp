// The simulated module: canned replies, state moves, header echo and the
// read rules, first at its own operations, then through the AT channel.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "at/at.h"
#include "device/devices.h"
#include "device/simulator.h"
#include "device_open/device_open.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_comm.h"
#include "fakes/fake_sync.h"

namespace {

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimulatorReset();
    FakeClockReset();
    FakeSyncReset();
    FakeCommReset();
  }

  static void Write(const std::string &bytes) {
    EXPECT_EQ(SimulatorWrite(SIMULATOR_CONNECTION, bytes.data(), (int)bytes.size()), (int)bytes.size());
  }

  // Everything a run of single-byte reads hands out, up to the 0 that ends it.
  static std::string ReadAll() {
    std::string bytes;
    for (int guard = 0; guard < 2000; guard++) {
      char byte = 'x';
      int got = SimulatorRead(SIMULATOR_CONNECTION, &byte, 1, 1000);
      if (got == 0) return bytes;
      EXPECT_EQ(got, 1);
      bytes.push_back(byte);
    }
    ADD_FAILURE() << "the reply never ended";
    return bytes;
  }

  // A command as the AT channel sends it: its text, then CR LF apart.
  static std::string Ask(const std::string &command) {
    Write(command);
    Write("\r\n");
    return ReadAll();
  }

  static std::string Header() {
    std::string header;
    for (int i = 0; i < 24; i++) header.push_back((char)(0x40 + i));
    return header;
  }
};

const char originalVersion[] = "Model. SIMULATOR\r\nSoftware Version. R1A013\r\nOK\r\n";

struct ReplyRow {
  const char *name;
  const char *command;
  const char *reply;
};

TEST_F(SimulatorTest, AnswersEachCommandOfAtModeWithItsCannedReply) {
  const ReplyRow rows[] = {
      {"version query", "AT*QVERS", originalVersion},
      {"second version query", "AT*QVER2", originalVersion},
      {"old version query", "AT*QVER", originalVersion},
      {"PIN state", "AT+CPIN?", "+CPIN: READY\r\nOK\r\n"},
      {"update state", "AT*QESFUD?", "AT*QESFUD?\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n"},
      {"gdre", "gdre=0,1247", "GDRE: 0X00,0XF9,0XEE,0XE2, OK\r\n"},
      {"rxbr", "rxbr=5", "RXBR: 0X18, OK\r\n"},
      {"rxpw", "rxpw", "RXPW: 67.1600,28.1299,-57.0702, OK\r\n"},
      {"anything else", "AT+CGMM", "OK\r\n"},
      {"a prefix of a known command is not that command", "AT*QVERSX", "OK\r\n"},
      {"commands are case-sensitive", "at+cpin?", "OK\r\n"},
      {"the other update-mode switches stay in AT mode", "AT*QESFUD=1", "OK\r\n"},
  };
  for (const ReplyRow &row : rows) {
    EXPECT_EQ(Ask(row.command), row.reply) << row.name;
    // Nothing above leaves AT mode.
    EXPECT_EQ(Ask("AT*QVERS"), originalVersion) << row.name;
  }
}

TEST_F(SimulatorTest, MovesFromAtModeToUpdateModeToUpdated) {
  const std::string updated =
      std::string("Model. SIMULATOR\r\nSoftware Version. ") + simulatorUpdatedVersion + "\r\nOK\r\n";
  ASSERT_STRNE(simulatorUpdatedVersion, "R1A013");

  EXPECT_EQ(Ask("AT*QESFUD=3"), "OK\r\n");
  EXPECT_EQ(Ask("AT*QVER2"), updated);  // the first version query in update mode moves on
  EXPECT_EQ(Ask("AT+CPIN?"), "OK\r\n");  // updated: everything else is OK
  EXPECT_EQ(Ask("AT*QESFUD=3"), "OK\r\n");
  EXPECT_EQ(Ask("AT*QVERS"), updated);
  EXPECT_EQ(Ask("AT*QVER"), updated);
}

TEST_F(SimulatorTest, IgnoresTheLineEndWrite) {
  Write("AT+CPIN?");
  Write("\r\n");  // must not replace the reply by the catch-all "OK"
  EXPECT_EQ(ReadAll(), "+CPIN: READY\r\nOK\r\n");
}

TEST_F(SimulatorTest, EchoesAHeaderWithItsResultCodeSetEvenAfterAnUnreadOk) {
  Write("AT*QESFUD=3");
  // The channel stops at the "OK" line and never makes the read that
  // finds nothing left, so the position stays at the end of "OK\r\n".
  for (int i = 0; i < 4; i++) {
    char byte;
    ASSERT_EQ(SimulatorRead(SIMULATOR_CONNECTION, &byte, 1, 1000), 1);
  }

  const std::string header = Header();
  Write(header);
  EXPECT_EQ(fakeClock.sleeps, std::vector<int>{10});

  std::string expected = header;
  expected[15] = 1;
  for (int attempt = 0; attempt < 3; attempt++) {  // the position does not move
    char reply[24] = {};
    EXPECT_EQ(SimulatorRead(SIMULATOR_CONNECTION, reply, 24, 120000), 24) << attempt;
    EXPECT_EQ(std::string(reply, 24), expected) << attempt;
  }
  // Byte by byte: the changed header, then the header as written.
  EXPECT_EQ(ReadAll(), expected + header);
}

TEST_F(SimulatorTest, ReplaysTheLastEchoForAChunkInUpdateMode) {
  Ask("AT*QESFUD=3");
  const std::string header = Header();
  Write(header);
  char reply[24];
  SimulatorRead(SIMULATOR_CONNECTION, reply, 24, 120000);

  Write(std::string(8192, '\x5a'));  // a package chunk
  std::string expected = header;
  expected[15] = 1;
  EXPECT_EQ(ReadAll(), expected + header);
  EXPECT_EQ(fakeClock.sleeps.size(), 1u) << "only a header pauses";
}

// A package whose last chunk is 24 bytes long: that chunk is no header,
// or its echo would be taken for the module's reply and refused.
TEST_F(SimulatorTest, TakesTheWriteAfterAHeaderForItsChunkWhateverItsLength) {
  Ask("AT*QESFUD=3");
  const std::string header = Header();
  const std::string chunk(24, '\x33');
  std::string echo = header;
  echo[15] = 1;
  char reply[24];

  Write(header);
  SimulatorRead(SIMULATOR_CONNECTION, reply, 24, 120000);
  Write(chunk);
  EXPECT_EQ(SimulatorRead(SIMULATOR_CONNECTION, reply, 24, 120000), 24);
  EXPECT_EQ(std::string(reply, 24), echo) << "the chunk was echoed as a header";

  // The next 24-byte write follows a chunk: a header again.
  std::string next = header;
  next[23] = 0x18;
  Write(next);
  std::string nextEcho = next;
  nextEcho[15] = 1;
  EXPECT_EQ(SimulatorRead(SIMULATOR_CONNECTION, reply, 24, 120000), 24);
  EXPECT_EQ(std::string(reply, 24), nextEcho);
  EXPECT_EQ(fakeClock.sleeps, (std::vector<int>{10, 10})) << "two headers, one chunk";
}

TEST_F(SimulatorTest, MultiByteReadReturnsTheCountCopiedAndZeroesTheRest) {
  Write("AT+CGMM");
  char buffer[24];
  std::memset(buffer, 0x77, sizeof buffer);
  EXPECT_EQ(SimulatorRead(SIMULATOR_CONNECTION, buffer, 24, 1000), 4);
  EXPECT_EQ(std::string(buffer, 24), std::string("OK\r\n") + std::string(20, '\0'));
}

TEST_F(SimulatorTest, AReadAfterTheReplyReturnsZeroOnceAndForgetsIt) {
  Write("AT+CPIN?");
  EXPECT_EQ(ReadAll(), "+CPIN: READY\r\nOK\r\n");
  char byte = 'x';
  EXPECT_EQ(SimulatorRead(SIMULATOR_CONNECTION, &byte, 1, 1000), 0);
  // Forgotten: the next text reply takes its own length.
  Write("AT+CGMM");
  EXPECT_EQ(ReadAll(), "OK\r\n");
}

// The same module behind the device layer and the AT channel.
class SimulatedDeviceTest : public SimulatorTest {
 protected:
  void SetUp() override {
    SimulatorTest::SetUp();
    ASSERT_EQ(SerialDeviceOpen(&device, "SIMULATOR", 9600), 0);
  }
  void TearDown() override { DeviceClose(device); }
  SerialDevice *device = nullptr;
};

TEST_F(SimulatedDeviceTest, OpensWithoutAPortAndWithoutACommand) {
  EXPECT_EQ(device->kind, DEVICE_KIND_SIMULATOR);
  EXPECT_EQ(device->connection, 500);
  EXPECT_EQ(device->deviceStatusBits, 0u);
  EXPECT_TRUE(fakeComm.calls.empty());
  // Nothing was sent: the module still gives its first reply to a query.
  char reply[200];
  EXPECT_EQ(ATSendCmd(device, "AT*QVERS", reply, 200, 4000), 0);
  EXPECT_STREQ(reply, originalVersion);
}

struct ChannelRow {
  const char *name;
  const char *command;
  int result;
  const char *reply;
};

TEST_F(SimulatedDeviceTest, EndsEachCannedReplyAtItsFinalLine) {
  const ChannelRow rows[] = {
      {"update state, four lines", "AT*QESFUD?", 0,
       "AT*QESFUD?\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n"},
      {"PIN state", "AT+CPIN?", 0, "+CPIN: READY\r\nOK\r\n"},
      {"result at the end of a data line", "gdre=0,1247", 0, "GDRE: 0X00,0XF9,0XEE,0XE2, OK\r\n"},
      {"rxpw", "rxpw", 0, "RXPW: 67.1600,28.1299,-57.0702, OK\r\n"},
  };
  for (const ChannelRow &row : rows) {
    char reply[200];
    EXPECT_EQ(ATSendCmd(device, row.command, reply, 200, 4000), row.result) << row.name;
    EXPECT_STREQ(reply, row.reply) << row.name;
  }
}

TEST_F(SimulatedDeviceTest, RunsTheUpdateExchangesThroughTheDeviceLayer) {
  ASSERT_EQ(ATSendCmd(device, "AT*QESFUD=3", nullptr, 0, 60000), 0);

  const std::string header = Header();
  EXPECT_EQ(DeviceWrite(device, header.data(), 24), 24);
  char reply[24] = {};
  EXPECT_EQ(DeviceRead(device, reply, 24, 120000), 24);
  std::string expected = header;
  expected[15] = 1;
  EXPECT_EQ(std::string(reply, 24), expected);

  // The drain takes the rest of the echo before the version query.
  char version[200];
  EXPECT_EQ(ATSendCmd(device, "AT*QVERS", version, 200, 4000), 0);
  EXPECT_NE(std::string(version).find(simulatorUpdatedVersion), std::string::npos) << version;
}

// A text reply takes effect only once the previous one has been read to
// its end; the channel's drain of stale input sees to that.
TEST_F(SimulatedDeviceTest, AHalfReadReplyDoesNotSpoilTheNextCommand) {
  Write("AT+CPIN?");
  char byte;
  for (int i = 0; i < 3; i++) ASSERT_EQ(DeviceRead(device, &byte, 1, 1000), 1);
  char reply[200];
  EXPECT_EQ(ATSendCmd(device, "AT*QVER", reply, 200, 4000), 0);
  EXPECT_STREQ(reply, originalVersion);
}

}  // namespace
