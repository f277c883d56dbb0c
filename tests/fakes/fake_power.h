// Power and session calls recorded in the dialog fake's list of calls,
// beside the dialog calls, so a test sees the order of both; a script
// says whether the system has the block-reason functions.
#pragma once
#include <cstdint>

#include "os/power.h"

struct FakePower {
  bool lacksCreate;       // the system has no ShutdownBlockReasonCreate
  bool lacksDestroy;      // nor ShutdownBlockReasonDestroy
  uint32_t state;         // the calling thread's execution state
  // What GetSystemPowerStatus reports; FakePowerReset gives a desktop's
  // reading: AC online, no system battery, charge unknown.
  OsPowerStatus status;
  bool statusFails;       // the reading fails
  int statusReads;        // how often it was read
};

extern FakePower fakePower;
void FakePowerReset();
