// The fuzz targets' module: device operations that play a byte script.
#include "fuzz/fuzz_module.h"


#include "device/devices.h"
#include "fakes/fake_clock.h"
#include "os/sync.h"

FuzzModule fuzzModule;

static SerialDevice theFuzzDevice = {DEVICE_KIND_SERIAL, 1, 0, nullptr};
SerialDevice *const fuzzDevice = &theFuzzDevice;

namespace {

struct Script {
  const uint8_t *bytes;
  size_t size;
  size_t next;
  size_t endlessFrom;  // where an endless script starts over; size when none
  bool waiting;        // for the next command line
};

Script script;

enum Event { BYTE, SILENCE, FAILURE };

// One step of the script: a byte to deliver, or why there is none.
Event NextEvent(uint8_t *byte) {
  int restarts = 0;
  for (;;) {
    if (script.waiting) return SILENCE;
    if (script.next >= script.size) {
      // An endless part made of pauses alone would spin here for ever:
      // a second start-over within one step found nothing to deliver.
      if (script.endlessFrom >= script.size || ++restarts > 1) return SILENCE;
      script.next = script.endlessFrom;
      fakeClock.tick += 1000;
    }
    if (fuzzModule.sinceCommand >= fuzzModule.cap) {
      fuzzModule.capReached = true;
      return SILENCE;
    }
    uint8_t b = script.bytes[script.next++];
    if (b != FUZZ_MARK) {
      *byte = b;
      return BYTE;
    }
    if (script.next >= script.size) continue;
    uint8_t code = script.bytes[script.next++];
    switch (code) {
      case FUZZ_SILENCE:
        return SILENCE;
      case FUZZ_READ_FAILS:
        return FAILURE;
      case FUZZ_NEXT_COMMAND:
        script.waiting = true;
        return SILENCE;
      case FUZZ_PAUSE:
        if (script.next < script.size) fakeClock.tick += 1000u * script.bytes[script.next++];
        continue;
      case FUZZ_ENDLESS:
        if (fuzzModule.endlessAllowed && script.endlessFrom == script.size) script.endlessFrom = script.next;
        continue;
      default:
        *byte = code;
        return BYTE;
    }
  }
}

}  // namespace

void FuzzModuleStart(const uint8_t *bytes, size_t size) {
  fuzzModule.exchanges.clear();
  fuzzModule.pendingWrite.clear();
  fuzzModule.sinceCommand = 0;
  fuzzModule.cap = FUZZ_DELIVERY_CAP;
  fuzzModule.capReached = false;
  fuzzModule.endlessAllowed = true;
  fuzzModule.lockResult = OS_WAIT_OBJECT_0;
  fuzzModule.locks = 0;
  fuzzModule.unlocks = 0;
  script = Script{bytes, size, 0, size, true};
  FakeClockReset();
}

FuzzModuleScope::~FuzzModuleScope() {
  std::vector<FuzzExchange>().swap(fuzzModule.exchanges);
  std::string().swap(fuzzModule.pendingWrite);
  std::vector<int>().swap(fakeClock.sleeps);
}

void FuzzModuleRelease() {
  script.waiting = false;
  fuzzModule.exchanges.push_back(FuzzExchange{"", "", false});
}

std::vector<std::string> FuzzReplyLines(const std::string &delivered) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : delivered) {
    line += c;
    if (c != '\n' && c != '\0' && line.size() < 1023) continue;
    if (line.compare(0, 4, "RING") != 0) lines.push_back(line);
    line.clear();
  }
  return lines;
}

std::string FuzzReplyText(const std::string &delivered) {
  std::string text;
  for (const std::string &line : FuzzReplyLines(delivered)) text += line;
  return std::string(text.c_str());
}

int DeviceRead(SerialDevice *device, void *buffer, int length, int timeoutMs) {
  if (device == nullptr || buffer == nullptr || length <= 0) return -1;
  int count = 0;
  while (count < length) {
    uint8_t byte = 0;
    Event event = NextEvent(&byte);
    if (event == FAILURE) {
      if (!fuzzModule.exchanges.empty()) fuzzModule.exchanges.back().readFailed = true;
      return count > 0 ? count : -1;
    }
    if (event == SILENCE) {
      // The read waited its whole time-out for the bytes that did not come.
      fakeClock.tick += timeoutMs > 0 ? (uint32_t)timeoutMs : 1000u;
      return count;
    }
    ((uint8_t *)buffer)[count++] = byte;
    fakeClock.tick += 1;
    fuzzModule.sinceCommand++;
    if (!fuzzModule.exchanges.empty()) fuzzModule.exchanges.back().delivered += (char)byte;
  }
  return count;
}

// A command line ends with a write of CR LF alone, as the AT channel
// sends it; that write lets the next reply of the script flow.
int DeviceWrite(SerialDevice *device, const void *bytes, int length) {
  if (device == nullptr || bytes == nullptr || length < 0) return -1;
  std::string text((const char *)bytes, (size_t)length);
  if (text != "\r\n") {
    fuzzModule.pendingWrite += text;
    return length;
  }
  fuzzModule.exchanges.push_back(FuzzExchange{fuzzModule.pendingWrite, "", false});
  fuzzModule.pendingWrite.clear();
  fuzzModule.sinceCommand = 0;
  script.waiting = false;
  return length;
}

int DeviceLock(SerialDevice *device, int) {
  if (device == nullptr) return OS_WAIT_FAILED;
  fuzzModule.locks++;
  return fuzzModule.lockResult;
}

int DeviceUnlock(SerialDevice *device) {
  if (device == nullptr) return -1;
  fuzzModule.unlocks++;
  return 0;
}
