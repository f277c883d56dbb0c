// The AT channel: one command, its reply read byte by byte by the calling
// thread until a final result line, silence, or a failed read.
#include "at/at.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/devices.h"
#include "log/trace_log.h"
#include "module_interface.h"
#include "os/clock.h"
#include "os/sync.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\at";

enum {
  DRAIN_SCRATCH_SIZE = 2,  // one byte per read
  DRAIN_POLL_MS = 1,       // a poll: returns at once when nothing is queued
};

// How long a wait may last in all. Inactive for a wait without limit.
struct ExchangeBound {
  bool active;
  uint32_t start;
  uint32_t limitMs;
};

static ExchangeBound BoundFor(int timeoutMs) {
  ExchangeBound bound = {false, 0, 0};
  if (timeoutMs < 0) return bound;
  int64_t limit = 2 * (int64_t)timeoutMs + AT_EXCHANGE_GRACE_MS;
  bound.active = true;
  bound.start = OsTickCount();
  bound.limitMs = limit > (int64_t)UINT32_MAX ? UINT32_MAX : (uint32_t)limit;
  return bound;
}

// The tick wraps after 49 days; unsigned subtraction still gives the
// elapsed time across the wrap.
static bool Expired(const ExchangeBound *bound) {
  return bound != nullptr && bound->active && (uint32_t)(OsTickCount() - bound->start) > bound->limitMs;
}

static bool IsUnsolicited(const char *line, int count) {
  for (const char *prefix : moduleUnsolicitedPrefixes) {
    size_t length = std::strlen(prefix);
    if ((size_t)count >= length && std::memcmp(line, prefix, length) == 0) return true;
  }
  return false;
}

// ATReadLine, and with a bound the wait's share of it: a line that does
// not end in time is abandoned like one that fell silent. Checking after
// every byte also ends an endless run of "RING"s, which never leaves here.
static int ReadLine(SerialDevice *device, char *buffer, int capacity, int timeoutMs, const ExchangeBound *bound) {
  if (buffer == nullptr || capacity < 1) return 0;
  for (;;) {
    int count = 0;
    while (count < capacity - 1) {
      int got = DeviceRead(device, buffer + count, 1, timeoutMs);
      if (got < 0) {
        count = got;
        break;
      }
      if (got == 0) {
        count = 0;
        break;
      }
      count++;
      char byte = buffer[count - 1];
      if (byte == '\n' || byte == '\0') break;
      if (Expired(bound)) {
        count = 0;
        break;
      }
    }
    if (count >= 0 && count < capacity) buffer[count] = '\0';
    if (count <= 0) return count;
    if (!IsUnsolicited(buffer, count)) return count;
  }
}

int ATReadLine(SerialDevice *device, char *buffer, int capacity, int timeoutMs) {
  return ReadLine(device, buffer, capacity, timeoutMs, nullptr);
}

// A copy of `text` for a trace line, each occurrence of `secret` turned
// into asterisks. A text cut to the copy may end in part of the secret,
// so the tail that could hold one is masked as well.
static const char *Masked(const char *text, const char *secret, char *copy, size_t capacity) {
  if (secret == nullptr || secret[0] == '\0') return text;
  size_t secretLength = std::strlen(secret);
  size_t length = std::strlen(text);
  bool cut = length > capacity - 1;
  if (cut) length = capacity - 1;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  for (char *at = std::strstr(copy, secret); at != nullptr; at = std::strstr(at + secretLength, secret))
    std::memset(at, '*', secretLength);
  if (cut) {
    size_t tail = secretLength - 1 < length ? secretLength - 1 : length;
    std::memset(copy + length - tail, '*', tail);
  }
  return copy;
}

// The code of a final result line, or -1 for any other line. A substring
// row is checked after the prefix rows and wins.
static int FinalLineResult(const char *line) {
  int result = -1;
  for (const ModuleFinalLine &row : moduleFinalPrefixes)
    if (std::strncmp(line, row.text, std::strlen(row.text)) == 0) {
      result = row.success ? AT_SUCCESS : AT_FAILURE;
      break;
    }
  for (const ModuleFinalLine &row : moduleFinalSubstrings)
    if (std::strstr(line, row.text) != nullptr) {
      result = row.success ? AT_SUCCESS : AT_FAILURE;
      break;
    }
  return result;
}

ATResult WaitForResponse(SerialDevice *device, char *reply, int capacity, int timeoutMs, const char *secret) {
  bool haveReply = reply != nullptr && capacity > 0;
  if (haveReply) std::memset(reply, 0, (size_t)capacity);
  int used = 0;
  ExchangeBound bound = BoundFor(timeoutMs);

  for (;;) {
    char line[AT_LINE_SIZE];
    std::memset(line, 0, sizeof line);
    int count = ReadLine(device, line, (int)sizeof line, timeoutMs, &bound);
    char shown[AT_LINE_SIZE];
    TRACE(TRACE_INFO, "Read buf [%s], %d\n", Masked(line, secret, shown, sizeof shown), count);
    if (count < 0) return AT_FAILURE;

    if (count > 0) {
      if (haveReply) {
        int room = capacity - 1 - used;
        int take = count < room ? count : room;
        if (take > 0) {
          std::memcpy(reply + used, line, (size_t)take);
          used += take;
        }
      }
      int result = FinalLineResult(line);
      if (result >= 0) return (ATResult)result;
    }

    if (Expired(&bound)) {
      TRACE(TRACE_WARNING, "No final line after %u ms\n", (unsigned)(OsTickCount() - bound.start));
      return AT_NO_REPLY;
    }
    if (count == 0) return AT_NO_REPLY;
  }
}

ATResult ATSendCmdUnsafe(SerialDevice *device, const char *command, char *reply, int capacity, int timeoutMs,
                    const char *secret) {
  if (command == nullptr) return AT_FAILURE;
  if (reply != nullptr && capacity > 0) std::memset(reply, 0, (size_t)capacity);

  // A reply that came after its command's time-out must not be taken for
  // this command's reply.
  int drained = 0;
  for (;;) {
    char scratch[DRAIN_SCRATCH_SIZE];
    int count = ATReadLine(device, scratch, (int)sizeof scratch, DRAIN_POLL_MS);
    if (count < 0) return AT_FAILURE;
    if (count == 0) break;
    drained += count;
    if (drained >= AT_DRAIN_LIMIT) {
      TRACE(TRACE_WARNING, "Input still arriving after %d stale bytes\n", drained);
      break;
    }
  }

  char shown[AT_COMMAND_SIZE];
  TRACE(TRACE_INFO, "Write [%s]\n", Masked(command, secret, shown, sizeof shown));
  // The results are not examined: a write that failed shows as no reply.
  DeviceWrite(device, command, (int)std::strlen(command));
  DeviceWrite(device, moduleLineEnd, (int)std::strlen(moduleLineEnd));
  return WaitForResponse(device, reply, capacity, timeoutMs, secret);
}

ATResult ATSendCmdSecret(SerialDevice *device, const char *command, const char *secret, char *reply, int capacity,
                    int timeoutMs) {
  // A lock that times out is held by another exchange: sending now would
  // interleave two commands, and unlocking would free a lock not ours.
  int wait = DeviceLock(device, timeoutMs);
  if (wait == OS_WAIT_TIMEOUT) return AT_NO_REPLY;
  if (wait != OS_WAIT_OBJECT_0 && wait != OS_WAIT_ABANDONED) return AT_FAILURE;
  ATResult result = ATSendCmdUnsafe(device, command, reply, capacity, timeoutMs, secret);
  DeviceUnlock(device);
  return result;
}

ATResult ATSendCmd(SerialDevice *device, const char *command, char *reply, int capacity, int timeoutMs) {
  return ATSendCmdSecret(device, command, nullptr, reply, capacity, timeoutMs);
}

ATResult ATSendCmdf(SerialDevice *device, char *reply, int capacity, int timeoutMs, const char *format, ...) {
  if (format == nullptr) return AT_FAILURE;
  char *command = (char *)std::malloc(AT_COMMAND_SIZE);
  if (command == nullptr) return AT_FAILURE;
  va_list args;
  va_start(args, format);
  std::vsnprintf(command, AT_COMMAND_SIZE, format, args);
  va_end(args);
  ATResult result = ATSendCmd(device, command, reply, capacity, timeoutMs);
  std::free(command);
  return result;
}
