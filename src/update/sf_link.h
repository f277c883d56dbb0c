// Update-mode link: takes the module from AT mode into its update mode,
// learns its protocol version, and passes raw bytes for the framed exchange.
#pragma once
#include <cstdint>

#include "update/sf_progress.h"

struct SerialDevice;

// The version the module last reported; 0 until it does, never reset. 32
// selects the magic header form.
extern uint32_t SFProtocolVersion;

// Open kinds: the command of the mode-switch step.
enum SFOpenKind : unsigned {
  SF_OPEN_QUERY_AND_SWITCH = 0,  // version query, then "AT*QESFUD=3"
  SF_OPEN_MODE_1 = 1,
  SF_OPEN_MODE_2 = 2,
  SF_OPEN_MODE_3 = 3,
};

// 0 when the module is in update mode, -1 otherwise.
int SFOpen(SerialDevice *device, unsigned kind, SFProgressCallback progress);
// 0 as soon as the update-state query succeeds; 4 after 21 failed attempts.
int SFPollUpdateMode(SerialDevice *device, int timeoutMs);
// 0 and the number after "version 0x" in *destination (may be absent);
// otherwise the query's own code, or 4 for a line without a version.
int SFQueryVersion(SerialDevice *device, uint32_t *destination, int timeoutMs);
// Bytes received (0..count) or -1; 0 without device and buffer.
int SFRead(SerialDevice *device, void *buffer, int count, int timeoutMs);
// Bytes written; 0 without device or data.
int SFWrite(SerialDevice *device, const void *data, int count);
// Ends one assignment's use of the link: sends nothing, leaves the mode.
void SFClose(SerialDevice *device);
