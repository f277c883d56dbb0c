// Version control's check before an update: the module identified afresh
// and judged. The caller says what becomes of the verdict: the run shows
// a refusal in a box, the inventory reports it.
#pragma once

struct SerialDevice;

// Whether a forced upgrade leaves its "FORCED UPGRADE" record in the
// upgrade log: a run does, a look that changes nothing does not.
enum VersionForcedRecord : int {
  VC_FORCED_RECORD_WRITTEN = 0,
  VC_FORCED_RECORD_SKIPPED = 1,
};

struct VersionCheck {
  int passed;           // 1 when the update may go ahead
  const char *refusal;  // when refused: the text that tells the user why; else nullptr
};

// Identifies the module afresh; with `forceUpgrade`, a module whose IMEI
// qualifies passes; otherwise it is judged against the table for the
// first catalogue entry's version.
VersionCheck CheckVersionControl(SerialDevice *device, int forceUpgrade, VersionForcedRecord forcedRecord);
