// Update-mode link: echo off, wait for the update-state query, switch
// modes; then raw bytes straight to the device, past the AT channel.
#include "update/sf_link.h"

#include <cstring>

#include "at/at.h"
#include "at/at_cmd.h"
#include "device/devices.h"
#include "log/trace_log.h"
#include "module_interface.h"
#include "os/clock.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\sf_link";

uint32_t SFProtocolVersion = 0;

enum {
  SF_LINK_DONE = SF_EVENT_LINK_STEP_2 + 1,
  SF_POLL_RETRIES = 20,  // after the first attempt
  SF_POLL_PAUSE_MS = 1000,
  SF_QUERY_LINE_SIZE = 200,
  SF_STEP_NOT_IN_TABLE = -1,
};

// The mode-switch step of each open kind.
struct SFOpenKindRow {
  bool queryVersion;  // learn the protocol version first; its result does not count
  const ModuleCommand *command;
};

static const SFOpenKindRow sfOpenKinds[] = {
    {true, &cmdUpdateModeSwitch[2]},   // SF_OPEN_QUERY_AND_SWITCH
    {false, &cmdUpdateModeSwitch[0]},  // SF_OPEN_MODE_1
    {false, &cmdUpdateModeSwitch[1]},  // SF_OPEN_MODE_2
    {false, &cmdUpdateModeSwitch[2]},  // SF_OPEN_MODE_3
};

static int SwitchMode(SerialDevice *device, unsigned kind) {
  if (kind >= sizeof sfOpenKinds / sizeof sfOpenKinds[0]) return SF_STEP_NOT_IN_TABLE;
  const SFOpenKindRow &row = sfOpenKinds[kind];
  if (row.queryVersion) SFQueryVersion(device, &SFProtocolVersion, MODULE_LINK_TIMEOUT_MS);
  return ATSendCmd(device, row.command->text, nullptr, 0, row.command->timeoutMs);
}

int SFOpen(SerialDevice *device, unsigned kind, SFProgressCallback progress) {
  int step = 0;
  int result = 0;
  do {
    // Each step is reported as the event of its number, SF_EVENT_LINK_STEP_0
    // to SF_EVENT_LINK_STEP_2.
    if (progress != nullptr) progress((unsigned)step, nullptr);
    TRACE(TRACE_DEBUG, "Go to state %d\n", step);
    switch (step) {
      case 0:
        result = ATSendCmd(device, cmdEchoOff.text, nullptr, 0, cmdEchoOff.timeoutMs);
        step = 1;
        break;
      case 1:
        result = SFPollUpdateMode(device, cmdLinkUpdateStateQuery.timeoutMs);
        step = 2;
        break;
      default:
        result = SwitchMode(device, kind);
        step = SF_LINK_DONE;
        break;
    }
  } while (step != SF_LINK_DONE && result == 0);
  TRACE(TRACE_INFO, "SF_Link: State  = %d", step);
  TRACE(TRACE_INFO, "SF_Link: Result = %d", result);
  return result == 0 ? 0 : -1;
}

int SFPollUpdateMode(SerialDevice *device, int timeoutMs) {
  if (ATQueryUpdateMode(device, timeoutMs) == AT_SUCCESS) return 0;
  for (int retry = 0; retry < SF_POLL_RETRIES; retry++) {
    OsSleep(SF_POLL_PAUSE_MS);
    if (ATQueryUpdateMode(device, timeoutMs) == AT_SUCCESS) return 0;
  }
  return AT_FAILURE;
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int SFQueryVersion(SerialDevice *device, uint32_t *destination, int timeoutMs) {
  char line[SF_QUERY_LINE_SIZE];
  int result = ATQueryLine(device, cmdLinkUpdateStateQuery.text, line, (int)sizeof line, timeoutMs);
  if (result != AT_SUCCESS) return result;
  const char *label = std::strstr(line, moduleProtocolVersionLabel);
  if (label == nullptr) return AT_FAILURE;
  const char *digits = std::strstr(label, "0x");
  if (digits == nullptr) return AT_FAILURE;

  // A number wider than the version field is no version this updater
  // knows; cut to 32 bits it could pass for any form.
  uint64_t value = 0;
  const char *c = digits + 2;
  for (; HexDigit(*c) >= 0; c++) {
    value = value * 16 + (uint64_t)HexDigit(*c);
    if (value > UINT32_MAX) return AT_FAILURE;
  }
  // A line that fills the buffer may have been cut anywhere: digits that
  // run to its end may have lost their tail, and "0x00000020" read as
  // "0x0000" would pick the wrong header form.
  if (*c == '\0' && (size_t)(c - line) == sizeof line - 1) return AT_FAILURE;
  if (destination != nullptr) *destination = (uint32_t)value;
  return AT_SUCCESS;
}

int SFRead(SerialDevice *device, void *buffer, int count, int timeoutMs) {
  if (buffer == nullptr) return 0;
  int received = DeviceRead(device, buffer, count, timeoutMs);
  TRACE(TRACE_DEBUG, "Received %d bytes expected %d within %d ms\n", received, count, timeoutMs);
  return received;
}

int SFWrite(SerialDevice *device, const void *data, int count) {
  if (device == nullptr || data == nullptr) return 0;
  return DeviceWrite(device, data, count);
}

void SFClose(SerialDevice *device) {
  // The worker's reset takes the module out of update mode; until then
  // the device stays as it is.
  (void)device;
}
