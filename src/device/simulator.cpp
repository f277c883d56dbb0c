// The simulated module: a state counter and one pending reply, answering
// the updater's commands first as a module in AT mode, then in update
// mode, then as an updated module.
#include "device/simulator.h"

#include <cstdio>
#include <cstring>

#include "module_interface.h"
#include "os/clock.h"

const char simulatorUpdatedVersion[] = "R1A014";

enum SimulatorState { SIMULATOR_AT_MODE = 1, SIMULATOR_UPDATE_MODE = 2, SIMULATOR_UPDATED = 3 };

enum {
  SIM_REPLY_SIZE = 1024,
  SIM_ECHO_SIZE = 2 * MODULE_HEADER_SIZE,
  SIM_RESULT_CODE_LOW_BYTE = 15,  // low byte of the header's big-endian result code
  SIM_HEADER_PAUSE_MS = 10,
};

enum SimulatorMatch { SIMULATOR_MATCH_COMMAND, SIMULATOR_MATCH_VERSION_QUERY, SIMULATOR_MATCH_HEADER, SIMULATOR_MATCH_ANYTHING };
enum SimulatorAction { SIMULATOR_REPLY_TEXT, SIMULATOR_REPLY_UPDATED_VERSION, SIMULATOR_REPLY_HEADER_ECHO, SIMULATOR_REPLY_AGAIN };

struct SimulatorRow {
  int state;
  SimulatorMatch match;
  const char *command;  // for MATCH_COMMAND
  SimulatorAction action;
  const char *text;  // for REPLY_TEXT
  int next;
};

static const char updatedVersionReply[] = "Model. SIMULATOR\r\nSoftware Version. %s\r\nOK\r\n";

// First matching row wins, so each state's catch-all comes last. The three
// diagnostic commands are the factory's, not the updater's: they show the
// channel's ", OK" rule at work.
static const SimulatorRow simulatorRows[] = {
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_VERSION_QUERY, nullptr, SIMULATOR_REPLY_TEXT,
     "Model. SIMULATOR\r\nSoftware Version. R1A013\r\nOK\r\n", SIMULATOR_AT_MODE},
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_COMMAND, cmdPinQuery.text, SIMULATOR_REPLY_TEXT, "+CPIN: READY\r\nOK\r\n", SIMULATOR_AT_MODE},
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_COMMAND, cmdUpdateModeSwitch[2].text, SIMULATOR_REPLY_TEXT, "OK\r\n", SIMULATOR_UPDATE_MODE},
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_COMMAND, cmdUpdateStateQuery.text, SIMULATOR_REPLY_TEXT,
     "AT*QESFUD?\r\n*QESFUD: {state 0, version 0x00000020}\r\n\r\nOK\r\n", SIMULATOR_AT_MODE},
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_COMMAND, "gdre=0,1247", SIMULATOR_REPLY_TEXT, "GDRE: 0X00,0XF9,0XEE,0XE2, OK\r\n", SIMULATOR_AT_MODE},
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_COMMAND, "rxbr=5", SIMULATOR_REPLY_TEXT, "RXBR: 0X18, OK\r\n", SIMULATOR_AT_MODE},
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_COMMAND, "rxpw", SIMULATOR_REPLY_TEXT, "RXPW: 67.1600,28.1299,-57.0702, OK\r\n", SIMULATOR_AT_MODE},
    {SIMULATOR_AT_MODE, SIMULATOR_MATCH_ANYTHING, nullptr, SIMULATOR_REPLY_TEXT, "OK\r\n", SIMULATOR_AT_MODE},
    {SIMULATOR_UPDATE_MODE, SIMULATOR_MATCH_VERSION_QUERY, nullptr, SIMULATOR_REPLY_UPDATED_VERSION, nullptr, SIMULATOR_UPDATED},
    {SIMULATOR_UPDATE_MODE, SIMULATOR_MATCH_HEADER, nullptr, SIMULATOR_REPLY_HEADER_ECHO, nullptr, SIMULATOR_UPDATE_MODE},
    {SIMULATOR_UPDATE_MODE, SIMULATOR_MATCH_ANYTHING, nullptr, SIMULATOR_REPLY_AGAIN, nullptr, SIMULATOR_UPDATE_MODE},
    {SIMULATOR_UPDATED, SIMULATOR_MATCH_VERSION_QUERY, nullptr, SIMULATOR_REPLY_UPDATED_VERSION, nullptr, SIMULATOR_UPDATED},
    {SIMULATOR_UPDATED, SIMULATOR_MATCH_ANYTHING, nullptr, SIMULATOR_REPLY_TEXT, "OK\r\n", SIMULATOR_UPDATED},
};

static int simState = SIMULATOR_AT_MODE;
static unsigned char simReply[SIM_REPLY_SIZE];
static int simReplyLength;  // 0: the next write takes the reply's text length
static int simReadPosition;
// A chunk can be 24 bytes long too: the write after a header is its chunk,
// whatever its length.
static bool simLastWriteWasHeader;

void SimulatorReset() {
  simState = SIMULATOR_AT_MODE;
  simLastWriteWasHeader = false;
  std::memset(simReply, 0, sizeof simReply);
  simReplyLength = 0;
  simReadPosition = 0;
}

static bool IsText(const void *bytes, int length, const char *text) {
  return (size_t)length == std::strlen(text) && std::memcmp(bytes, text, (size_t)length) == 0;
}

static bool IsVersionQuery(const void *bytes, int length) {
  return IsText(bytes, length, cmdVersionQuery.text) || IsText(bytes, length, cmdVersionQuery2.text) ||
         IsText(bytes, length, cmdVersionQueryOld.text);
}

static bool RowMatches(const SimulatorRow &row, const void *bytes, int length) {
  if (row.state != simState) return false;
  switch (row.match) {
    case SIMULATOR_MATCH_COMMAND:
      return IsText(bytes, length, row.command);
    case SIMULATOR_MATCH_VERSION_QUERY:
      return IsVersionQuery(bytes, length);
    case SIMULATOR_MATCH_HEADER:
      return length == MODULE_HEADER_SIZE && !simLastWriteWasHeader;
    case SIMULATOR_MATCH_ANYTHING:
      return true;
  }
  return false;
}

// The module's loader answers a header with the header itself, its result
// code set to 1, and then the header once more unchanged.
static void EchoHeader(const unsigned char *header) {
  std::memcpy(simReply, header, MODULE_HEADER_SIZE);
  simReply[SIM_RESULT_CODE_LOW_BYTE] = 1;
  std::memcpy(simReply + MODULE_HEADER_SIZE, header, MODULE_HEADER_SIZE);
  simReplyLength = SIM_ECHO_SIZE;
  // The mode switch's "OK" is never read to its end, so without this the
  // first header reply would start in the middle of the echo.
  simReadPosition = 0;
  OsSleep(SIM_HEADER_PAUSE_MS);
}

int SimulatorWrite(int connection, const void *bytes, int length) {
  (void)connection;
  if (bytes == nullptr || length <= 0) return length;
  if (IsText(bytes, length, moduleLineEnd)) return length;

  bool header = false;
  for (const SimulatorRow &row : simulatorRows) {
    if (!RowMatches(row, bytes, length)) continue;
    header = row.match == SIMULATOR_MATCH_HEADER;
    switch (row.action) {
      case SIMULATOR_REPLY_TEXT:
        std::snprintf((char *)simReply, sizeof simReply, "%s", row.text);
        break;
      case SIMULATOR_REPLY_UPDATED_VERSION:
        std::snprintf((char *)simReply, sizeof simReply, updatedVersionReply, simulatorUpdatedVersion);
        break;
      case SIMULATOR_REPLY_HEADER_ECHO:
        EchoHeader((const unsigned char *)bytes);
        break;
      case SIMULATOR_REPLY_AGAIN:
        simReplyLength = SIM_ECHO_SIZE;
        simReadPosition = 0;
        break;
    }
    simState = row.next;
    break;
  }
  simLastWriteWasHeader = header;

  // A text reply takes effect only once the previous one has been read to
  // its end; the AT channel drains the old reply before every command.
  if (simReplyLength == 0) simReplyLength = (int)std::strlen((const char *)simReply);
  return length;
}

int SimulatorRead(int connection, void *buffer, int length, int timeoutMs) {
  (void)connection;
  (void)timeoutMs;
  if (buffer == nullptr || length <= 0) return 0;
  // Like a serial read: bytes that do not arrive read as zero.
  std::memset(buffer, 0, (size_t)length);
  if (simReadPosition >= simReplyLength) {
    simReplyLength = 0;
    simReadPosition = 0;
    return 0;
  }
  if (length == 1) {
    *(unsigned char *)buffer = simReply[simReadPosition++];
    return 1;
  }
  // The position stays, so every 24-byte read of the update protocol sees
  // the start of the header echo.
  int count = simReplyLength - simReadPosition;
  if (count > length) count = length;
  std::memcpy(buffer, simReply + simReadPosition, (size_t)count);
  return count;
}
