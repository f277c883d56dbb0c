// Serial communications seam: the Win32 comm calls of the port layer, one for one.
#pragma once
#include <cstdint>

#include "os/errors.h"

// A port handle as an integer, so the portable code can trace it and keep
// it in a table without knowing what a HANDLE is.
typedef uintptr_t OsCommHandle;

// What CreateFileA gives on failure. Not 0: a failed open must not be
// mistaken for a handle, nor a handle for a failure.
const OsCommHandle OS_INVALID_COMM_HANDLE = ~(OsCommHandle)0;

// Flags and codes with their Win32 values, so the portable code states the
// port configuration itself and tests can check it.
enum : uint32_t {
  OS_GENERIC_READ = 0x80000000u,
  OS_GENERIC_WRITE = 0x40000000u,
  OS_OPEN_EXISTING = 3,
  OS_FILE_ATTRIBUTE_NORMAL = 0x80,

  OS_PURGE_TXABORT = 0x1,
  OS_PURGE_RXABORT = 0x2,
  OS_PURGE_TXCLEAR = 0x4,
  OS_PURGE_RXCLEAR = 0x8,

  OS_NOPARITY = 0,
  OS_ONESTOPBIT = 0,
  OS_MAXDWORD = 0xFFFFFFFFu,
};

// The DCB fields the port layer sets. `native` carries the rest of the
// driver's DCB from OsGetCommState to OsSetCommState untouched, so flow
// control and the other flags stay as the driver reported them.
struct OsCommState {
  uint32_t baudRate;
  uint8_t byteSize;
  uint8_t parity;
  uint8_t stopBits;
  uint8_t abortOnError;  // fAbortOnError, 0 or 1
  alignas(8) unsigned char native[32];
};

struct OsCommTimeouts {
  uint32_t readIntervalTimeout;
  uint32_t readTotalTimeoutMultiplier;
  uint32_t readTotalTimeoutConstant;
  uint32_t writeTotalTimeoutMultiplier;
  uint32_t writeTotalTimeoutConstant;
};

struct OsCommProperties {
  uint32_t maxTxQueue;  // dwMaxTxQueue
  uint32_t maxRxQueue;  // dwMaxRxQueue
};

struct OsCommStatus {
  uint32_t inQueue;   // cbInQue
  uint32_t outQueue;  // cbOutQue
};

// Each call returns nonzero on success, as its Win32 namesake; the reason
// of a failure is then in OsGetLastError. Byte counts may be null where
// Win32 allows it only for overlapped I/O: pass them.
OsCommHandle OsCreateFile(const char *path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                          uint32_t flagsAndAttributes);
int OsSetupComm(OsCommHandle handle, uint32_t inQueue, uint32_t outQueue);
int OsGetCommState(OsCommHandle handle, OsCommState *state);
int OsSetCommState(OsCommHandle handle, const OsCommState *state);
int OsGetCommTimeouts(OsCommHandle handle, OsCommTimeouts *timeouts);
int OsSetCommTimeouts(OsCommHandle handle, const OsCommTimeouts *timeouts);
int OsGetCommProperties(OsCommHandle handle, OsCommProperties *properties);
int OsPurgeComm(OsCommHandle handle, uint32_t flags);
int OsFlushFileBuffers(OsCommHandle handle);
int OsReadFile(OsCommHandle handle, void *buffer, uint32_t size, uint32_t *transferred);
int OsWriteFile(OsCommHandle handle, const void *buffer, uint32_t size, uint32_t *transferred);
// `errors` receives the line error flags; `status` may be null.
int OsClearCommError(OsCommHandle handle, uint32_t *errors, OsCommStatus *status);
int OsCloseHandle(OsCommHandle handle);
int OsDeviceIoControl(OsCommHandle handle, uint32_t code, const void *in, uint32_t inSize, void *out,
                      uint32_t outSize, uint32_t *returned);
uint32_t OsGetLastError();
