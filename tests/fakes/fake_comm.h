// Serial ports that play a module: scripted results, a peer, recorded calls.
//
// Usage (reset in every test, together with the clock):
//
//   FakeCommReset(); FakeClockReset();
//   FakePort &port = FakeCommAddPort("\\\\.\\COM7");      // CreateFileA on it succeeds
//   port.responder = [](FakePort &p, const std::string &written) {
//     if (written == "AT+CGMM\r") p.input += "\r\nM7120x\r\n\r\nOK\r\n";
//   };
//   port.input = "early bytes";           // the peer may also talk unasked
//   FakeCommFail("ReadFile", OS_ERROR_GEN_FAILURE);  // next ReadFile fails once
//   FakeCommScript("ReadFile", {{1, 0}, {0, 31}});   // or a sequence: ok, then fail
//   FakeCommVanish("\\\\.\\COM7", FAKE_VANISH_WINE); // module drops off the bus
//   FakeCommReplug("\\\\.\\COM7");                   // ...and comes back
//   ... EXPECT_EQ(FakeCommCallNames(), (std::vector<std::string>{"CreateFileA", ...}));
//
// Timing follows the configured port (total read timeout 1000 ms): a
// ReadFile that finds the whole request queued returns at once; one that
// finds less returns what is queued after advancing fakeClock.tick by
// readTimeoutMs (1000), as does an empty one with 0 bytes. Nothing sleeps.
//
// A vanished port, as Wine shows it (FAKE_VANISH_WINE): ReadFile keeps
// succeeding with 0 bytes after the timeout; ClearCommError, WriteFile and
// the other calls fail with error 21. As Windows shows it
// (FAKE_VANISH_WINDOWS): every call on the handle fails with vanishError
// (22). Either way, a new CreateFileA of the path fails with error 2 until
// FakeCommReplug; handles from before the vanishing stay dead.
//
// Paths with no port fail CreateFileA with error 2. The open is exclusive:
// a second CreateFileA of an open port (or of one with heldElsewhere set)
// fails with error 5. Scripted results are consumed first, one per call of
// that name, whatever the port; a scripted success runs the normal
// behaviour. Handles count up from firstHandle (set it before the first
// open to get handles above 4 GiB).
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "os/comm.h"

enum FakeVanish {
  FAKE_PRESENT = 0,
  FAKE_VANISH_WINE = 1,
  FAKE_VANISH_WINDOWS = 2,
};

struct FakePort {
  std::string path;
  bool present = true;
  bool heldElsewhere = false;    // another program holds it open
  std::string input;             // bytes the peer sent, not yet read
  std::string written;           // everything written to this port, in order
  std::function<void(FakePort &, const std::string &written)> responder;  // after each WriteFile
  std::function<void(FakePort &)> onRead;  // before each ReadFile: feed bytes over time
  uint32_t writeLimit = 0xFFFFFFFFu;  // WriteFile accepts at most this many bytes per call
  OsCommState state{};           // what GetCommState reports / SetCommState set
  OsCommTimeouts timeouts{};
  OsCommProperties properties{};
  uint32_t errorFlags = 0;       // reported (and cleared) by ClearCommError
  uint32_t purges = 0;           // OR of every PurgeComm flag set
  // Driver version request: fails with error 87 (like a pty) when empty.
  std::string driverVersion;
  int64_t driverReturned = -1;   // >= 0: the byte count the driver claims
  int opens = 0;
  int closes = 0;
};

struct FakeCommResult {
  int ok;          // nonzero: behave normally
  uint32_t error;  // the last error when !ok
};

struct FakeCommCall {
  std::string name;              // Win32 name, e.g. "ReadFile"
  OsCommHandle handle;
  std::vector<uint32_t> args;    // sizes, flags, codes in call order
  std::string bytes;             // path (CreateFileA) or written bytes
  std::string result;            // bytes read (ReadFile)
  int ok;
};

struct FakeCommHandle {
  std::string path;
  int dead;  // FakeVanish mode when its port vanished while it was open
};

struct FakeComm {
  std::map<std::string, FakePort> ports;
  std::map<OsCommHandle, FakeCommHandle> handles;  // open handles only
  std::map<std::string, std::deque<FakeCommResult>> script;
  std::vector<FakeCommCall> calls;
  uint32_t lastError;
  OsCommHandle firstHandle;
  OsCommHandle nextHandle;
  uint32_t readTimeoutMs;
  uint32_t vanishError;  // what a vanished port fails with on Windows
};

extern FakeComm fakeComm;

void FakeCommReset();
FakePort &FakeCommAddPort(const std::string &path);
FakePort *FakeCommPortOf(OsCommHandle handle);
void FakeCommFail(const std::string &call, uint32_t error, int times = 1);
void FakeCommScript(const std::string &call, const std::vector<FakeCommResult> &results);
void FakeCommVanish(const std::string &path, int mode);
void FakeCommReplug(const std::string &path);
std::vector<std::string> FakeCommCallNames();
int FakeCommCount(const std::string &call);
const FakeCommCall *FakeCommLast(const std::string &call);  // nullptr when never called
