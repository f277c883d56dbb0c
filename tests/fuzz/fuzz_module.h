// A module for the fuzz targets: the device operations the AT channel
// reads and writes through, answering from a byte script instead of a port.
//
// The script is the module's side of the wire, replies for one command
// after another. A 0xFF byte starts a mark:
//
//   FF 00     one read finds nothing (the module fell silent)
//   FF 01     one read fails, as a port that went away
//   FF 02     nothing more arrives until the next command line is written
//   FF 03 n   n seconds pass before the next byte
//   FF 04     the rest of the script repeats for ever ("RING\r\n" without end)
//   FF xx     any other byte: xx itself (FF FF is one 0xFF byte)
//
// The script starts as if waiting for the first command, so a reply comes
// only after something was written. Every byte takes one millisecond on
// the virtual clock, about what it takes at 9600 baud, each pass through an
// endless part one second more (a module repeats itself, as RING does,
// every so often), and a read that finds nothing spends its whole time-out
// there: a wait that is bounded in time therefore ends on an endless
// stream too.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"

struct SerialDevice;

enum : uint8_t {
  FUZZ_MARK = 0xFF,
  FUZZ_SILENCE = 0x00,
  FUZZ_READ_FAILS = 0x01,
  FUZZ_NEXT_COMMAND = 0x02,
  FUZZ_PAUSE = 0x03,
  FUZZ_ENDLESS = 0x04,
};

// An endless script is cut off after this many bytes since the last
// command line, as silence: code that is still reading by then would have
// read for ever. No exchange of the channel reads half of it: 64 KiB of
// stale input, then at most two time-outs and a minute of bytes.
enum { FUZZ_DELIVERY_CAP = 1024 * 1024 };

struct FuzzExchange {
  std::string command;    // the command line, without its CR LF
  std::string delivered;  // every byte read after it, until the next command
  bool readFailed;        // a read after it failed
};

struct FuzzModule {
  std::vector<FuzzExchange> exchanges;  // one per command line written
  std::string pendingWrite;             // written since the last CR LF write
  size_t sinceCommand;  // bytes read since the last command line
  size_t cap;           // FUZZ_DELIVERY_CAP unless a target sets less
  bool endlessAllowed;  // false: an endless mark is ignored
  bool capReached;
  int lockResult;  // what DeviceLock answers (an OS_WAIT_* value)
  int locks;
  int unlocks;
};

extern FuzzModule fuzzModule;
extern SerialDevice *const fuzzDevice;

// Starts a new run on `script`, which must outlive it. The clock restarts too.
void FuzzModuleStart(const uint8_t *script, size_t size);

// Frees what a run kept. Each target holds one for the length of its run:
// libFuzzer reruns every input whose allocations outlive it, to look for a
// leak, and that would double the cost of every run.
struct FuzzModuleScope {
  FuzzModuleScope() = default;
  FuzzModuleScope(const FuzzModuleScope &) = delete;
  ~FuzzModuleScope();
};

// Lets the script's replies flow without a command first, for code that
// reads without sending (the AT line reader alone).
void FuzzModuleRelease();

// The lines an exchange's bytes make, as the module's line rules define
// them: each ends with LF or NUL, or after 1023 bytes; a last piece that
// never ended is not a line. Lines that begin with "RING" are left out.
std::vector<std::string> FuzzReplyLines(const std::string &delivered);
// Those lines joined, and read as a text: up to its first NUL.
std::string FuzzReplyText(const std::string &delivered);
