// Whether the machine's power can carry an update to its end: read just
// before the first byte would go to the module, by the run and by the
// inventory alike.
#pragma once

enum PowerAc { POWER_AC_OFFLINE = 0, POWER_AC_ONLINE = 1, POWER_AC_UNKNOWN = 2 };

// What the machine runs on, as the rule reads it.
struct PowerReading {
  PowerAc ac;
  int batteryPercent;  // 0-100; -1 when unknown or there is no system battery
  // The system's own bytes, for the trace.
  unsigned acLineStatus;
  unsigned batteryFlag;
  unsigned batteryLifePercent;
};

// Never waits. A reading that fails is all unknown, which lets a run go on.
PowerReading ReadPower();

// Nonzero when the rule refuses to start an update on this reading: the
// battery says it is low (a charge under 25 %, or critical when it gives
// no charge) and the AC is offline, or unknown with the battery not
// charging.
int PowerRefusesUpdate(const PowerReading *reading);

// The refusal as the user reads it, into `text` of `capacity` bytes.
void PowerRefusalText(const PowerReading *reading, char *text, int capacity);
