// Serial ports that play a module: scripted results, a peer, recorded calls.
#include "fakes/fake_comm.h"

#include <algorithm>
#include <cstring>

#include "fakes/fake_clock.h"

FakeComm fakeComm;

void FakeCommReset() {
  fakeComm = FakeComm{};
  fakeComm.lastError = 0;
  fakeComm.firstHandle = 0x100;
  fakeComm.nextHandle = 0;
  fakeComm.readTimeoutMs = 1000;
  fakeComm.vanishError = OS_ERROR_BAD_COMMAND;
}

FakePort &FakeCommAddPort(const std::string &path) {
  FakePort port;
  port.path = path;
  // A driver's own settings, deliberately unlike what the port layer sets,
  // so a test sees which fields were changed.
  port.state.baudRate = 115200;
  port.state.byteSize = 7;
  port.state.parity = 2;
  port.state.stopBits = 2;
  port.state.abortOnError = 0;
  std::memset(port.state.native, 0xA5, sizeof port.state.native);
  port.timeouts = OsCommTimeouts{7, 7, 7, 7, 7};
  port.properties = OsCommProperties{4096, 8192};
  fakeComm.ports[path] = port;
  return fakeComm.ports[path];
}

FakePort *FakeCommPortOf(OsCommHandle handle) {
  auto open = fakeComm.handles.find(handle);
  if (open == fakeComm.handles.end()) return nullptr;
  auto port = fakeComm.ports.find(open->second.path);
  return port == fakeComm.ports.end() ? nullptr : &port->second;
}

void FakeCommFail(const std::string &call, uint32_t error, int times) {
  for (int i = 0; i < times; i++) fakeComm.script[call].push_back(FakeCommResult{0, error});
}

void FakeCommScript(const std::string &call, const std::vector<FakeCommResult> &results) {
  for (const FakeCommResult &result : results) fakeComm.script[call].push_back(result);
}

void FakeCommVanish(const std::string &path, int mode) {
  auto port = fakeComm.ports.find(path);
  if (port != fakeComm.ports.end()) {
    port->second.present = false;
    port->second.input.clear();
  }
  for (auto &open : fakeComm.handles)
    if (open.second.path == path && open.second.dead == FAKE_PRESENT) open.second.dead = mode;
}

void FakeCommReplug(const std::string &path) {
  auto port = fakeComm.ports.find(path);
  if (port == fakeComm.ports.end()) {
    FakeCommAddPort(path);
    return;
  }
  port->second.present = true;
  port->second.input.clear();
  port->second.errorFlags = 0;
}

std::vector<std::string> FakeCommCallNames() {
  std::vector<std::string> names;
  for (const FakeCommCall &call : fakeComm.calls) names.push_back(call.name);
  return names;
}

int FakeCommCount(const std::string &call) {
  return (int)std::count_if(fakeComm.calls.begin(), fakeComm.calls.end(),
                            [&](const FakeCommCall &c) { return c.name == call; });
}

const FakeCommCall *FakeCommLast(const std::string &call) {
  for (auto it = fakeComm.calls.rbegin(); it != fakeComm.calls.rend(); ++it)
    if (it->name == call) return &*it;
  return nullptr;
}

// ---------------------------------------------------------------------------

namespace {

// What the shared part of a call decided: the port to act on, or nullptr
// when the call is already answered by `ok` (2: a ReadFile on a tty Wine
// saw hang up, which succeeds with nothing).
struct Outcome {
  FakePort *port;
  int ok;
  size_t index;  // of the recorded call
};

size_t Record(const char *name, OsCommHandle handle, std::vector<uint32_t> args, std::string bytes = "") {
  fakeComm.calls.push_back(FakeCommCall{name, handle, std::move(args), std::move(bytes), "", 1});
  return fakeComm.calls.size() - 1;
}

int Fail(size_t index, uint32_t error) {
  fakeComm.lastError = error;
  fakeComm.calls[index].ok = 0;
  return 0;
}

bool TakeScripted(const char *name, FakeCommResult *result) {
  auto queue = fakeComm.script.find(name);
  if (queue == fakeComm.script.end() || queue->second.empty()) return false;
  *result = queue->second.front();
  queue->second.pop_front();
  return true;
}

// Records the call, then settles what every call shares: a scripted
// result, an unknown handle, a vanished port.
Outcome Begin(const char *name, OsCommHandle handle, std::vector<uint32_t> args, std::string bytes = "") {
  Outcome outcome{nullptr, 0, Record(name, handle, std::move(args), std::move(bytes))};
  FakeCommResult scripted;
  if (TakeScripted(name, &scripted) && !scripted.ok) {
    outcome.ok = Fail(outcome.index, scripted.error);
    return outcome;
  }
  auto open = fakeComm.handles.find(handle);
  if (open == fakeComm.handles.end()) {
    outcome.ok = Fail(outcome.index, OS_ERROR_INVALID_HANDLE);
    return outcome;
  }
  if (open->second.dead == FAKE_VANISH_WINE) {
    outcome.ok = std::strcmp(name, "ReadFile") == 0 ? 2 : Fail(outcome.index, OS_ERROR_NOT_READY);
    return outcome;
  }
  if (open->second.dead == FAKE_VANISH_WINDOWS) {
    outcome.ok = Fail(outcome.index, fakeComm.vanishError);
    return outcome;
  }
  outcome.port = FakeCommPortOf(handle);
  outcome.ok = outcome.port != nullptr ? 1 : Fail(outcome.index, OS_ERROR_INVALID_HANDLE);
  return outcome;
}

}  // namespace

OsCommHandle OsCreateFile(const char *path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                          uint32_t flagsAndAttributes) {
  size_t index = Record("CreateFileA", 0, {access, shareMode, disposition, flagsAndAttributes}, path);
  FakeCommResult scripted;
  if (TakeScripted("CreateFileA", &scripted) && !scripted.ok) {
    Fail(index, scripted.error);
    return OS_INVALID_COMM_HANDLE;
  }
  auto port = fakeComm.ports.find(path);
  if (port == fakeComm.ports.end() || !port->second.present) {
    Fail(index, OS_ERROR_FILE_NOT_FOUND);
    return OS_INVALID_COMM_HANDLE;
  }
  bool busy = port->second.heldElsewhere;
  for (const auto &open : fakeComm.handles) busy = busy || (open.second.path == path && !open.second.dead);
  if (busy) {
    Fail(index, OS_ERROR_ACCESS_DENIED);
    return OS_INVALID_COMM_HANDLE;
  }
  if (fakeComm.nextHandle == 0) fakeComm.nextHandle = fakeComm.firstHandle;
  OsCommHandle handle = fakeComm.nextHandle;
  fakeComm.nextHandle += 4;
  fakeComm.handles[handle] = FakeCommHandle{path, FAKE_PRESENT};
  fakeComm.calls[index].handle = handle;
  port->second.opens++;
  return handle;
}

int OsSetupComm(OsCommHandle handle, uint32_t inQueue, uint32_t outQueue) {
  return Begin("SetupComm", handle, {inQueue, outQueue}).ok;
}

int OsGetCommState(OsCommHandle handle, OsCommState *state) {
  Outcome outcome = Begin("GetCommState", handle, {});
  if (outcome.port != nullptr) *state = outcome.port->state;
  return outcome.ok;
}

int OsSetCommState(OsCommHandle handle, const OsCommState *state) {
  Outcome outcome = Begin("SetCommState", handle, {state->baudRate, state->byteSize, state->parity,
                                                   state->stopBits, state->abortOnError});
  if (outcome.port != nullptr) outcome.port->state = *state;
  return outcome.ok;
}

int OsGetCommTimeouts(OsCommHandle handle, OsCommTimeouts *timeouts) {
  Outcome outcome = Begin("GetCommTimeouts", handle, {});
  if (outcome.port != nullptr) *timeouts = outcome.port->timeouts;
  return outcome.ok;
}

int OsSetCommTimeouts(OsCommHandle handle, const OsCommTimeouts *timeouts) {
  Outcome outcome = Begin("SetCommTimeouts", handle,
                          {timeouts->readIntervalTimeout, timeouts->readTotalTimeoutMultiplier,
                           timeouts->readTotalTimeoutConstant, timeouts->writeTotalTimeoutMultiplier,
                           timeouts->writeTotalTimeoutConstant});
  if (outcome.port != nullptr) outcome.port->timeouts = *timeouts;
  return outcome.ok;
}

int OsGetCommProperties(OsCommHandle handle, OsCommProperties *properties) {
  Outcome outcome = Begin("GetCommProperties", handle, {});
  if (outcome.port != nullptr) *properties = outcome.port->properties;
  return outcome.ok;
}

int OsPurgeComm(OsCommHandle handle, uint32_t flags) {
  Outcome outcome = Begin("PurgeComm", handle, {flags});
  if (outcome.port != nullptr) {
    outcome.port->purges |= flags;
    if (flags & OS_PURGE_RXCLEAR) outcome.port->input.clear();
  }
  return outcome.ok;
}

int OsFlushFileBuffers(OsCommHandle handle) { return Begin("FlushFileBuffers", handle, {}).ok; }

int OsReadFile(OsCommHandle handle, void *buffer, uint32_t size, uint32_t *transferred) {
  *transferred = 0;
  Outcome outcome = Begin("ReadFile", handle, {size});
  if (outcome.ok == 2) {  // hung-up tty under Wine: end of file after the timeout
    fakeClock.tick += fakeComm.readTimeoutMs;
    return 1;
  }
  if (outcome.port == nullptr) return outcome.ok;
  FakePort *port = outcome.port;
  if (port->onRead) {
    auto onRead = port->onRead;
    onRead(*port);
    // The hook may have pulled the port away under this very read.
    int dead = fakeComm.handles[handle].dead;
    if (dead == FAKE_VANISH_WINDOWS) return Fail(outcome.index, fakeComm.vanishError);
    if (dead == FAKE_VANISH_WINE) {
      fakeClock.tick += fakeComm.readTimeoutMs;
      return 1;
    }
    port = FakeCommPortOf(handle);
  }
  uint32_t count = (uint32_t)std::min<size_t>(size, port->input.size());
  std::memcpy(buffer, port->input.data(), count);
  fakeComm.calls[outcome.index].result = port->input.substr(0, count);
  port->input.erase(0, count);
  if (count < size) fakeClock.tick += fakeComm.readTimeoutMs;
  *transferred = count;
  return 1;
}

int OsWriteFile(OsCommHandle handle, const void *buffer, uint32_t size, uint32_t *transferred) {
  *transferred = 0;
  std::string bytes((const char *)buffer, size);
  Outcome outcome = Begin("WriteFile", handle, {size}, bytes);
  if (outcome.port == nullptr) return outcome.ok;
  FakePort *port = outcome.port;
  uint32_t count = std::min(size, port->writeLimit);
  bytes.resize(count);
  port->written += bytes;
  *transferred = count;
  // The responder may vanish the port or add ports: touch nothing after it.
  if (port->responder) {
    auto responder = port->responder;
    responder(*port, bytes);
  }
  return 1;
}

int OsClearCommError(OsCommHandle handle, uint32_t *errors, OsCommStatus *status) {
  *errors = 0;
  if (status != nullptr) *status = OsCommStatus{0, 0};
  Outcome outcome = Begin("ClearCommError", handle, {});
  if (outcome.port == nullptr) return outcome.ok;
  *errors = outcome.port->errorFlags;
  outcome.port->errorFlags = 0;
  if (status != nullptr) status->inQueue = (uint32_t)outcome.port->input.size();
  return 1;
}

int OsCloseHandle(OsCommHandle handle) {
  size_t index = Record("CloseHandle", handle, {});
  FakeCommResult scripted;
  bool failed = TakeScripted("CloseHandle", &scripted) && !scripted.ok;
  auto open = fakeComm.handles.find(handle);
  if (open == fakeComm.handles.end()) return Fail(index, OS_ERROR_INVALID_HANDLE);
  FakePort *port = FakeCommPortOf(handle);
  if (port != nullptr) port->closes++;
  // Even a failed close leaves the handle unusable, as on Windows.
  fakeComm.handles.erase(open);
  return failed ? Fail(index, scripted.error) : 1;
}

int OsDeviceIoControl(OsCommHandle handle, uint32_t code, const void *in, uint32_t inSize, void *out,
                      uint32_t outSize, uint32_t *returned) {
  (void)in;
  *returned = 0;
  Outcome outcome = Begin("DeviceIoControl", handle, {code, inSize, outSize});
  if (outcome.port == nullptr) return outcome.ok;
  const std::string &version = outcome.port->driverVersion;
  if (version.empty()) return Fail(outcome.index, OS_ERROR_INVALID_PARAMETER);
  uint32_t count = (uint32_t)std::min<size_t>(version.size(), outSize);
  std::memcpy(out, version.data(), count);
  *returned = outcome.port->driverReturned >= 0 ? (uint32_t)outcome.port->driverReturned : count;
  return 1;
}

uint32_t OsGetLastError() { return fakeComm.lastError; }
