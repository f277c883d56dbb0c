// The small AT queries several callers share: SIM PIN state and entry, the
// update-state query, the SIM check they make, and the first line of a
// reply.
#pragma once

#include "at/at.h"

struct SerialDevice;

// What ATGetPinState reads. PIN_STATE_UNKNOWN is no reply's: a caller sets
// it first, so a query that names no state leaves it, and since it is not
// PIN_STATE_READY an unanswered query asks for a code instead of reading an unset
// value.
enum PinState : int {
  PIN_STATE_UNKNOWN = 0,
  PIN_STATE_READY = 1,
  PIN_STATE_PIN_REQUIRED = 2,
  PIN_STATE_PUK_REQUIRED = 3,
};

enum {
  AT_PIN_REPLY_SIZE = 200,
  AT_PIN_COMMAND_SIZE = 200,
  AT_QUERY_REPLY_SIZE = 2048,
};

// All return an ATResult. A reply naming no known state leaves *state as
// it was: a caller that needs a defined value sets one first.
ATResult ATGetPinState(SerialDevice *device, PinState *state, int timeoutMs);

// What the SIM lets an update do, asked as a run asks before its update.
enum SimCheck : int {
  SIM_CHECK_NOT_NEEDED = 0,  // the module took the update-state query: no unlocked SIM needed
  SIM_CHECK_READY = 1,
  SIM_CHECK_PIN = 2,         // a PIN to ask for; also an unanswered query or one naming no state
  SIM_CHECK_PUK = 3,
  SIM_CHECK_UNREADABLE = 4,  // the PIN state query failed
};

// The update-state query, then, unless it succeeded, the PIN state; each
// query waits up to timeoutMs.
SimCheck ATCheckSim(SerialDevice *device, int timeoutMs);

// Sends the code as "AT+CPIN=\"code\"". A code that could end the quotes
// or the line (a double quote, a control or non-ASCII character), or that
// does not fit the command, is refused with 4 and nothing is sent. The
// code shows only as asterisks in the trace.
ATResult ATEnterPin(SerialDevice *device, const char *code, int timeoutMs);

// 0 when the module answers the update-state query with a success line.
ATResult ATQueryUpdateMode(SerialDevice *device, int timeoutMs);

// On 0, `line` holds the reply's first line after the echo, cut to
// capacity - 1 characters; a capacity of 0 or less receives nothing.
ATResult ATQueryLine(SerialDevice *device, const char *command, char *line, int capacity, int timeoutMs);

// Where the module's own text begins in `reply`: behind the echoed command
// line, or behind a leading CR LF when the module does not echo.
const char *ATSkipEcho(const char *reply, const char *command);
