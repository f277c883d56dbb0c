// The power rule: a flash is never started on a battery too low to finish it.
#include "app/power_check.h"

#include <cstdio>

#include "os/power.h"

// 25 % leaves a laptop more than half an hour, several times the longest
// update (15 minutes). Above it, the warning the user accepted is the guard.
enum { BATTERY_LOW_PERCENT = 25 };

// GetSystemPowerStatus's values for what it cannot tell.
enum { OS_AC_UNKNOWN = 255, OS_NO_SYSTEM_BATTERY = 128, OS_PERCENT_UNKNOWN = 255 };
// GetSystemPowerStatus's battery flag bits, when the flag is known (not 255).
enum { OS_BATTERY_CRITICAL = 4, OS_BATTERY_CHARGING = 8, OS_BATTERY_FLAG_UNKNOWN = 255 };

PowerReading ReadPower() {
  OsPowerStatus status = {OS_AC_UNKNOWN, 255, OS_PERCENT_UNKNOWN};
  OsGetPowerStatus(&status);
  PowerReading reading;
  reading.acLineStatus = status.acLineStatus;
  reading.batteryFlag = status.batteryFlag;
  reading.batteryLifePercent = status.batteryLifePercent;
  reading.ac = status.acLineStatus == 0   ? POWER_AC_OFFLINE
               : status.acLineStatus == 1 ? POWER_AC_ONLINE
                                          : POWER_AC_UNKNOWN;
  // The flag is a set of bits; 255 is "unknown", not a set with 128 in it.
  int noBattery = status.batteryFlag != 255 && (status.batteryFlag & OS_NO_SYSTEM_BATTERY) != 0;
  reading.batteryPercent = noBattery || status.batteryLifePercent > 100 ? -1 : status.batteryLifePercent;
  return reading;
}

static int FlagSays(const PowerReading *reading, unsigned bit) {
  return reading->batteryFlag != OS_BATTERY_FLAG_UNKNOWN && (reading->batteryFlag & OS_NO_SYSTEM_BATTERY) == 0 &&
         (reading->batteryFlag & bit) != 0;
}

// The battery's own word that it is low: a known charge under the limit,
// or its critical flag when it gives no charge.
static int BatterySaysLow(const PowerReading *reading) {
  if (reading->batteryPercent >= 0) return reading->batteryPercent < BATTERY_LOW_PERCENT;
  return FlagSays(reading, OS_BATTERY_CRITICAL);
}

// Conservative: a run starts unless the reading shows the laptop on AC or
// a battery with enough in it. An AC status Windows cannot tell is no
// proof of the adapter, unless the battery says it is charging.
int PowerRefusesUpdate(const PowerReading *reading) {
  if (reading->ac == POWER_AC_ONLINE || !BatterySaysLow(reading)) return 0;
  if (reading->ac == POWER_AC_OFFLINE) return 1;
  return !FlagSays(reading, OS_BATTERY_CHARGING);
}

void PowerRefusalText(const PowerReading *reading, char *text, int capacity) {
  if (reading->batteryPercent < 0) {
    std::snprintf(text, (size_t)capacity, "%s",
                  "The laptop is running on its battery, which is almost empty. Connect the AC adapter, then press OK "
                  "again.");
    return;
  }
  std::snprintf(text, (size_t)capacity,
                "The laptop is running on its battery, which is at %d %%. Connect the AC adapter, then press OK again.",
                reading->batteryPercent);
}
