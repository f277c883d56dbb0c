// The shared AT queries, each one exchange through ATSendCmd.
#include "at/at_cmd.h"

#include <cstdio>
#include <cstring>

#include "at/at.h"
#include "module_interface.h"

ATResult ATGetPinState(SerialDevice *device, PinState *state, int timeoutMs) {
  if (state == nullptr) return AT_FAILURE;
  char reply[AT_PIN_REPLY_SIZE];
  ATResult result = ATSendCmd(device, cmdPinQuery.text, reply, (int)sizeof reply, timeoutMs);
  if (result != AT_SUCCESS) return result;
  // The PIN's text is a prefix of the second PIN's, so "SIM PIN2" also
  // reads as PIN_STATE_PIN_REQUIRED; the same holds for the PUK.
  static const PinState states[3] = {PIN_STATE_READY, PIN_STATE_PIN_REQUIRED, PIN_STATE_PUK_REQUIRED};
  for (int i = 0; i < 3; i++)
    if (std::strstr(reply, modulePinReplies[i]) != nullptr) {
      *state = states[i];
      break;
    }
  return AT_SUCCESS;
}

// The code travels inside quotes: a quote, CR or LF in it would close the
// value and let the rest run as a command of its own.
static bool IsSafePinCode(const char *code) {
  for (const unsigned char *c = (const unsigned char *)code; *c != '\0'; c++)
    if (*c < 0x20 || *c > 0x7E || *c == '"') return false;
  return true;
}

ATResult ATEnterPin(SerialDevice *device, const char *code, int timeoutMs) {
  if (code == nullptr || !IsSafePinCode(code)) return AT_FAILURE;
  // The command carries its own CR LF and the channel adds one more, so
  // the module sees the command line and then an empty line.
  char command[AT_PIN_COMMAND_SIZE];
  int length = std::snprintf(command, sizeof command, "%s=\"%s\"\r\n", cmdPinEntry.text, code);
  // A cut code would be a wrong code, and a wrong code costs the SIM one
  // of its few attempts.
  if (length < 0 || length >= (int)sizeof command) return AT_FAILURE;
  return ATSendCmdSecret(device, command, code, nullptr, 0, timeoutMs);
}

ATResult ATQueryUpdateMode(SerialDevice *device, int timeoutMs) {
  return ATSendCmd(device, cmdUpdateStateQuery.text, nullptr, 0, timeoutMs);
}

SimCheck ATCheckSim(SerialDevice *device, int timeoutMs) {
  if (ATQueryUpdateMode(device, timeoutMs) == AT_SUCCESS) return SIM_CHECK_NOT_NEEDED;
  PinState state = PIN_STATE_UNKNOWN;  // a reply that names no state asks for a PIN
  if (ATGetPinState(device, &state, timeoutMs) == AT_FAILURE) return SIM_CHECK_UNREADABLE;
  if (state == PIN_STATE_READY) return SIM_CHECK_READY;
  return state == PIN_STATE_PUK_REQUIRED ? SIM_CHECK_PUK : SIM_CHECK_PIN;
}

const char *ATSkipEcho(const char *reply, const char *command) {
  if (reply == nullptr || command == nullptr) return reply;
  if (std::strlen(command) > std::strlen(reply)) return reply;
  const char *echo = std::strstr(reply, command);
  if (echo != nullptr) {
    const char *end = std::strstr(echo + std::strlen(command), moduleLineEnd);
    return end != nullptr ? end + std::strlen(moduleLineEnd) : reply;
  }
  if (std::strncmp(reply, moduleLineEnd, std::strlen(moduleLineEnd)) == 0)
    return reply + std::strlen(moduleLineEnd);
  return reply;
}

ATResult ATQueryLine(SerialDevice *device, const char *command, char *line, int capacity, int timeoutMs) {
  char reply[AT_QUERY_REPLY_SIZE];
  ATResult result = ATSendCmd(device, command, reply, (int)sizeof reply, timeoutMs);
  if (result != AT_SUCCESS) return result;
  if (line == nullptr || capacity <= 0) return AT_SUCCESS;

  // The reply is terminated within its buffer, so its text bounds the copy
  // whether or not a line end follows.
  const char *start = ATSkipEcho(reply, command);
  // An unsolicited line before the reply leaves its blank line in front
  // of it (the channel drops only the line's text): the line wanted is
  // the first that has text.
  const size_t lineEnd = std::strlen(moduleLineEnd);
  while (std::strncmp(start, moduleLineEnd, lineEnd) == 0) start += lineEnd;
  const char *end = std::strstr(start, moduleLineEnd);
  size_t length = end != nullptr ? (size_t)(end - start) : std::strlen(start);
  if (length > (size_t)capacity - 1) length = (size_t)capacity - 1;
  std::memcpy(line, start, length);
  line[length] = '\0';
  return AT_SUCCESS;
}
