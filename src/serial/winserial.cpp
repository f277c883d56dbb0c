// Serial ports by connection number: open and configure, bounded reads, writes, driver version.
#include "serial/winserial.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "log/trace_log.h"
#include "os/clock.h"
#include "os/comm.h"

static const unsigned traceThreshold = 4;
static const char traceSource[] = "..\\..\\..\\src\\winserial";

enum : uint32_t {
  QUEUE_SIZE = 20000,
  READ_ATTEMPT_MS = 1000,
  WRITE_TIMEOUT_MS = 1000,
  FAILED_READS_ALLOWED = 3,  // the fourth failed attempt ends the read
  READ_RETRY_PAUSE_MS = 100,
  OPEN_SETTLE_MS = 50,
  PURGE_ALL = OS_PURGE_TXABORT | OS_PURGE_RXABORT | OS_PURGE_TXCLEAR | OS_PURGE_RXCLEAR,
  // CTL_CODE(FILE_DEVICE_SERIAL_PORT, 0x809, METHOD_BUFFERED, FILE_ANY_ACCESS):
  // the module's port driver answers it with its version text.
  IOCTL_DRIVER_VERSION = 0x001B2024,
};

enum { CONNECTION_PATH_SIZE = 256 };

struct Connection {
  int used;
  OsCommHandle handle;
  char path[CONNECTION_PATH_SIZE];  // as opened, cut to fit
};

static Connection connections[SERIAL_CONNECTIONS];
static int connectionsReady;

static OsCommHandle HandleOf(int connection) {
  if (connection < 1 || connection >= SERIAL_CONNECTIONS) return OS_INVALID_COMM_HANDLE;
  if (!connections[connection].used) return OS_INVALID_COMM_HANDLE;
  return connections[connection].handle;
}

// A configuration step failed: leave no half-open port behind.
static int AbandonOpen(OsCommHandle handle) {
  uint32_t errors = 0;
  OsClearCommError(handle, &errors, nullptr);
  OsCloseHandle(handle);
  return 0;
}

int SerialOpen(const char *path, int baud, bool *busy) {
  if (busy != nullptr) *busy = false;
  if (!connectionsReady) {
    std::memset(connections, 0, sizeof connections);
    connectionsReady = 1;
  }
  if (path == nullptr) path = "";
  OsCommHandle handle = OsCreateFile(path, OS_GENERIC_READ | OS_GENERIC_WRITE, 0, OS_OPEN_EXISTING,
                                     OS_FILE_ATTRIBUTE_NORMAL);
  if (handle == OS_INVALID_COMM_HANDLE) {
    if (busy != nullptr) *busy = OsGetLastError() == OS_ERROR_ACCESS_DENIED;
    TRACE(TRACE_WARNING, "Invalid com handle %s\n", path);
    return 0;
  }
  if (!OsSetupComm(handle, QUEUE_SIZE, QUEUE_SIZE)) {
    TRACE(TRACE_WARNING, "ERROR init serial buffer\n");
    return AbandonOpen(handle);
  }
  OsCommState state;
  std::memset(&state, 0, sizeof state);
  if (!OsGetCommState(handle, &state)) {
    TRACE(TRACE_WARNING, "Error retriving serial params\n");
    return AbandonOpen(handle);
  }
  state.baudRate = (uint32_t)baud;
  state.byteSize = 8;
  state.parity = OS_NOPARITY;
  state.stopBits = OS_ONESTOPBIT;
  state.abortOnError = 1;
  if (!OsSetCommState(handle, &state)) {
    TRACE(TRACE_WARNING, "Error setting serial params\n");
    return AbandonOpen(handle);
  }
  OsCommTimeouts timeouts;
  if (!OsGetCommTimeouts(handle, &timeouts)) {
    TRACE(TRACE_WARNING, "Error retrieving serial timeout params\n");
    return AbandonOpen(handle);
  }
  // An attempt returns what has arrived after at most one second; reads
  // count their time in such attempts.
  timeouts.readIntervalTimeout = OS_MAXDWORD;
  timeouts.readTotalTimeoutMultiplier = 0;
  timeouts.readTotalTimeoutConstant = READ_ATTEMPT_MS;
  timeouts.writeTotalTimeoutMultiplier = 0;
  timeouts.writeTotalTimeoutConstant = WRITE_TIMEOUT_MS;
  if (!OsSetCommTimeouts(handle, &timeouts)) {
    TRACE(TRACE_WARNING, "Error setting timeout params\n");
    return AbandonOpen(handle);
  }
  OsCommProperties properties;
  if (!OsGetCommProperties(handle, &properties)) {
    TRACE(TRACE_WARNING, "Error retrieving serial properties params\n");
    return AbandonOpen(handle);
  }
  TRACE(TRACE_DEBUG, "dwMaxTxQueue=%i\n", (int)properties.maxTxQueue);
  TRACE(TRACE_DEBUG, "dwMaxRxQueue=%i\n", (int)properties.maxRxQueue);
  OsPurgeComm(handle, PURGE_ALL);

  int slot = 1;
  while (slot < SERIAL_CONNECTIONS && connections[slot].used) slot++;
  if (slot == SERIAL_CONNECTIONS) {
    OsCloseHandle(handle);
    return 0;
  }
  connections[slot].used = 1;
  connections[slot].handle = handle;
  std::snprintf(connections[slot].path, sizeof connections[slot].path, "%s", path);
  // Handles are 64 bits wide but never use the upper half; the line shows
  // the lower 32 bits.
  TRACE(TRACE_DEBUG, "New connection %d, 0x%X\n", slot, (unsigned)(uint32_t)handle);

  OsFlushFileBuffers(handle);
  OsSleep(OPEN_SETTLE_MS);
  return slot;
}

int SerialRead(int connection, void *buffer, int length, int timeoutMs) {
  OsCommHandle handle = HandleOf(connection);
  if (handle == OS_INVALID_COMM_HANDLE) return -1;
  if (length < 0 || (buffer == nullptr && length > 0)) return -1;
  unsigned char *bytes = (unsigned char *)buffer;
  if (length > 0) std::memset(bytes, 0, (size_t)length);

  // "No limit" is a property of the call, not a value the countdown may
  // reach: 999 less one attempt is -1 too, and must not become unlimited.
  const bool unlimited = timeoutMs == SERIAL_NO_LIMIT;
  int remaining = timeoutMs;
  int got = 0;
  int failures = 0;
  // Set once a read brought nothing and the status call said the port is
  // gone: see below.
  bool statusFailed = false;
  while (got < length) {
    if (!unlimited && remaining <= 0) break;
    if (!unlimited && remaining < (int)READ_ATTEMPT_MS) {
      uint32_t errors = 0;
      OsCommStatus status{0, 0};
      OsClearCommError(handle, &errors, &status);
      if (status.inQueue == 0) break;
    }
    uint32_t count = 0;
    int ok = 1;
    uint32_t error = 0;
    if (statusFailed) {
      // Wine reads a hung-up tty by spinning on it for the whole attempt,
      // a core busy for a second; a port whose status call still fails is
      // still gone, so the attempt fails without that read.
      uint32_t errors = 0;
      if (!OsClearCommError(handle, &errors, nullptr)) {
        ok = 0;
        error = OsGetLastError();
      } else {
        statusFailed = false;
      }
    }
    if (ok) {
      ok = OsReadFile(handle, bytes + got, (uint32_t)(length - got), &count);
      error = ok ? 0 : OsGetLastError();
    }
    if (ok && count == 0) {
      // Some drivers (Wine's on a hung-up tty) let a removed port's reads
      // succeed with nothing for ever; only the status call tells.
      uint32_t errors = 0;
      if (!OsClearCommError(handle, &errors, nullptr)) {
        ok = 0;
        error = OsGetLastError();
        statusFailed = true;
      }
    }
    if (ok) {
      if (count > (uint32_t)(length - got)) count = (uint32_t)(length - got);
      got += (int)count;
      if (!unlimited) remaining -= (int)READ_ATTEMPT_MS;
      continue;
    }
    TRACE(TRACE_WARNING, "Read failed GetLastError %d", (int)error);
    uint32_t errors = 0;
    OsClearCommError(handle, &errors, nullptr);
    TRACE(TRACE_WARNING, "ErrorFlags %d\n", (int)errors);
    if (++failures > (int)FAILED_READS_ALLOWED) return -1;
    OsSleep(READ_RETRY_PAUSE_MS);
  }
  return got;
}

int SerialWrite(int connection, const void *buffer, int length) {
  OsCommHandle handle = HandleOf(connection);
  if (handle == OS_INVALID_COMM_HANDLE) return -1;
  if (length < 0 || (buffer == nullptr && length > 0)) return -1;
  uint32_t count = 0;
  if (!OsWriteFile(handle, buffer, (uint32_t)length, &count)) {
    TRACE(TRACE_WARNING, "Write failed GetLastError %d", (int)OsGetLastError());
    uint32_t errors = 0;
    OsClearCommError(handle, &errors, nullptr);
    TRACE(TRACE_WARNING, "ErrorFlags %d\n", (int)errors);
    return 0;
  }
  return (int)count;
}

void SerialClose(int connection) {
  OsCommHandle handle = HandleOf(connection);
  if (handle == OS_INVALID_COMM_HANDLE) return;
  OsPurgeComm(handle, PURGE_ALL);
  OsFlushFileBuffers(handle);
  OsCloseHandle(handle);
  connections[connection].used = 0;
  connections[connection].handle = 0;
}

void SerialQueryDriverVersion(int connection, char *text, int capacity) {
  if (text == nullptr || capacity <= 0) return;
  text[0] = '\0';
  OsCommHandle handle = HandleOf(connection);
  if (handle == OS_INVALID_COMM_HANDLE) return;
  uint32_t returned = 0;
  if (!OsDeviceIoControl(handle, IOCTL_DRIVER_VERSION, nullptr, 0, text, (uint32_t)capacity, &returned)) {
    text[0] = '\0';  // a failing driver may still have written into it
    return;
  }
  // The driver's text need not be terminated, and its count is not to be
  // trusted beyond the buffer.
  uint32_t end = (uint32_t)capacity - 1;
  if (returned < end) end = returned;
  text[end] = '\0';
}

const char *SerialPortPath(int connection) {
  if (HandleOf(connection) == OS_INVALID_COMM_HANDLE) return "";
  return connections[connection].path;
}

