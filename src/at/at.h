// The AT channel: sends one command to the module and collects its reply
// up to the final result line.
#pragma once
#include "common/printf_check.h"

struct SerialDevice;

// The result of every AT exchange.
enum ATResult : int {
  AT_SUCCESS = 0,   // a final line meaning success
  AT_NO_REPLY = 2,  // silence before a final line, or the device was busy
  AT_FAILURE = 4,   // a final line meaning failure, a failed read, no command
};

enum {
  AT_LINE_SIZE = 1024,     // a longer line arrives in pieces of 1023 bytes
  AT_COMMAND_SIZE = 1024,  // ATSendCmdf's formatted command, terminator included
  // A port that never stops talking cannot hold an exchange for ever: the
  // drain gives up after this much stale input, and the wait after twice
  // its time-out plus the grace. No real reply comes near either.
  AT_DRAIN_LIMIT = 64 * 1024,
  AT_EXCHANGE_GRACE_MS = 60000,
};

// The one way to send a command: holds the device's lock from the drain of
// stale input to the final line. `reply` (capacity bytes, may be absent)
// receives every line of the reply, terminated. `timeoutMs` applies to
// each byte of the reply and to the wait for the lock.
ATResult ATSendCmd(SerialDevice *device, const char *command, char *reply, int capacity, int timeoutMs);

// ATSendCmd for a command that carries a secret, the SIM's PIN or PUK:
// every trace line of the exchange (the command, its echo, any line that
// repeats it) shows each occurrence of `secret` as asterisks. The
// debugger output can be read by any process of the session.
ATResult ATSendCmdSecret(SerialDevice *device, const char *command, const char *secret, char *reply, int capacity,
                    int timeoutMs);

// ATSendCmd with a printf-formatted command, cut to 1023 characters.
ATResult ATSendCmdf(SerialDevice *device, char *reply, int capacity, int timeoutMs, const char *format, ...)
    PRINTF_CHECK(5, 6);

// The exchange without the lock; for ATSendCmd only. `secret`, when
// given, is masked in the trace lines.
ATResult ATSendCmdUnsafe(SerialDevice *device, const char *command, char *reply, int capacity, int timeoutMs,
                    const char *secret = nullptr);

// Collects reply lines until a final result line. Takes no lock: the
// update protocol calls it directly, on the one thread using the device.
ATResult WaitForResponse(SerialDevice *device, char *reply, int capacity, int timeoutMs, const char *secret = nullptr);

// Reads one line into `buffer`, terminated, LF (or NUL) included. Returns
// its length; 0 when the device fell silent (the partial line is lost); a
// negative read result unchanged. "RING" lines are skipped.
int ATReadLine(SerialDevice *device, char *buffer, int capacity, int timeoutMs);
