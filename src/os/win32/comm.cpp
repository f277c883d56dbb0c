// Serial communications seam (Windows-specific).
#include <windows.h>

#include <cstring>

#include "os/comm.h"

static_assert(sizeof(DCB) <= sizeof(OsCommState::native), "the driver's DCB must fit the carried copy");

static HANDLE H(OsCommHandle handle) { return (HANDLE)handle; }

OsCommHandle OsCreateFile(const char *path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                          uint32_t flagsAndAttributes) {
  HANDLE handle = CreateFileA(path, access, shareMode, nullptr, disposition, flagsAndAttributes, nullptr);
  return handle == INVALID_HANDLE_VALUE ? OS_INVALID_COMM_HANDLE : (OsCommHandle)handle;
}

int OsSetupComm(OsCommHandle handle, uint32_t inQueue, uint32_t outQueue) {
  return SetupComm(H(handle), inQueue, outQueue) ? 1 : 0;
}

int OsGetCommState(OsCommHandle handle, OsCommState *state) {
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(H(handle), &dcb)) return 0;
  std::memset(state, 0, sizeof *state);
  std::memcpy(state->native, &dcb, sizeof dcb);
  state->baudRate = dcb.BaudRate;
  state->byteSize = dcb.ByteSize;
  state->parity = dcb.Parity;
  state->stopBits = dcb.StopBits;
  state->abortOnError = dcb.fAbortOnError ? 1 : 0;
  return 1;
}

int OsSetCommState(OsCommHandle handle, const OsCommState *state) {
  DCB dcb;
  std::memcpy(&dcb, state->native, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = state->baudRate;
  dcb.ByteSize = state->byteSize;
  dcb.Parity = state->parity;
  dcb.StopBits = state->stopBits;
  dcb.fAbortOnError = state->abortOnError ? 1 : 0;
  return SetCommState(H(handle), &dcb) ? 1 : 0;
}

int OsGetCommTimeouts(OsCommHandle handle, OsCommTimeouts *timeouts) {
  COMMTIMEOUTS native;
  if (!GetCommTimeouts(H(handle), &native)) return 0;
  timeouts->readIntervalTimeout = native.ReadIntervalTimeout;
  timeouts->readTotalTimeoutMultiplier = native.ReadTotalTimeoutMultiplier;
  timeouts->readTotalTimeoutConstant = native.ReadTotalTimeoutConstant;
  timeouts->writeTotalTimeoutMultiplier = native.WriteTotalTimeoutMultiplier;
  timeouts->writeTotalTimeoutConstant = native.WriteTotalTimeoutConstant;
  return 1;
}

int OsSetCommTimeouts(OsCommHandle handle, const OsCommTimeouts *timeouts) {
  COMMTIMEOUTS native;
  native.ReadIntervalTimeout = timeouts->readIntervalTimeout;
  native.ReadTotalTimeoutMultiplier = timeouts->readTotalTimeoutMultiplier;
  native.ReadTotalTimeoutConstant = timeouts->readTotalTimeoutConstant;
  native.WriteTotalTimeoutMultiplier = timeouts->writeTotalTimeoutMultiplier;
  native.WriteTotalTimeoutConstant = timeouts->writeTotalTimeoutConstant;
  return SetCommTimeouts(H(handle), &native) ? 1 : 0;
}

int OsGetCommProperties(OsCommHandle handle, OsCommProperties *properties) {
  COMMPROP native;
  std::memset(&native, 0, sizeof native);
  if (!GetCommProperties(H(handle), &native)) return 0;
  properties->maxTxQueue = native.dwMaxTxQueue;
  properties->maxRxQueue = native.dwMaxRxQueue;
  return 1;
}

int OsPurgeComm(OsCommHandle handle, uint32_t flags) { return PurgeComm(H(handle), flags) ? 1 : 0; }

int OsFlushFileBuffers(OsCommHandle handle) { return FlushFileBuffers(H(handle)) ? 1 : 0; }

int OsReadFile(OsCommHandle handle, void *buffer, uint32_t size, uint32_t *transferred) {
  DWORD count = 0;
  BOOL ok = ReadFile(H(handle), buffer, size, &count, nullptr);
  *transferred = count;
  return ok ? 1 : 0;
}

int OsWriteFile(OsCommHandle handle, const void *buffer, uint32_t size, uint32_t *transferred) {
  DWORD count = 0;
  BOOL ok = WriteFile(H(handle), buffer, size, &count, nullptr);
  *transferred = count;
  return ok ? 1 : 0;
}

int OsClearCommError(OsCommHandle handle, uint32_t *errors, OsCommStatus *status) {
  DWORD flags = 0;
  COMSTAT native;
  std::memset(&native, 0, sizeof native);
  BOOL ok = ClearCommError(H(handle), &flags, &native);
  *errors = flags;
  if (status != nullptr) {
    status->inQueue = native.cbInQue;
    status->outQueue = native.cbOutQue;
  }
  return ok ? 1 : 0;
}

int OsCloseHandle(OsCommHandle handle) { return CloseHandle(H(handle)) ? 1 : 0; }

int OsDeviceIoControl(OsCommHandle handle, uint32_t code, const void *in, uint32_t inSize, void *out,
                      uint32_t outSize, uint32_t *returned) {
  DWORD count = 0;
  BOOL ok = DeviceIoControl(H(handle), code, (void *)in, inSize, out, outSize, &count, nullptr);
  *returned = count;
  return ok ? 1 : 0;
}

uint32_t OsGetLastError() { return GetLastError(); }
