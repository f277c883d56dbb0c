// OnProgress: what the update protocol reports, turned into the stages,
// the transfer-rate line and the percent bar. Runs on the worker thread
// only, so its samples need no lock.
#include <cstdint>

#include "app/progress.h"
#include "os/clock.h"

// The update-mode link reports its steps 0, 1 and 2 as it opens; each
// package opens the link anew.
enum ProgressEvent {
  EVENT_LINK_STEP_0 = 0,
  EVENT_LINK_STEP_1 = 1,
  EVENT_SENDING = 7,
  EVENT_WAITING = 9,
};

enum { STAGE_INITIALIZE = 1, STAGE_SEND = 2, STAGE_SEND_DONE = 3, STAGE_WAIT = 5 };

// Tick 0 means no sample: the next one only starts the clock. The average
// survives a new package, so a chain of deltas shows one running rate.
static uint32_t lastTick;
static int32_t lastSent;
static int32_t averageRate;  // kilobytes per second

static void TakeSample(int32_t sent, int32_t total) {
  if (lastTick == 0) {
    lastTick = OsTickCount();
    lastSent = sent;
    return;
  }
  if (sent == total) {
    SetStage(STAGE_SEND_DONE);
    return;
  }
  uint32_t now = OsTickCount();
  if (now != lastTick) {
    // Unsigned throughout: bytes per second, then kilobytes.
    uint32_t rate = (((uint32_t)sent - (uint32_t)lastSent) * 1000u / (now - lastTick)) >> 10;
    if (averageRate == 0) averageRate = (int32_t)rate;
    averageRate = (averageRate + (int32_t)rate) / 2;
  }
  StatusPrintf("Send update package %dk/%dk\t %d kbytes/sec\r\n", sent / 1024, total / 1024, averageRate);
  lastTick = now;
  lastSent = sent;
  // A total of 0 or less names no share of anything; it is no reason to
  // divide by zero.
  if (total > 0) SetPercent((int)((int64_t)sent * 100 / total));
}

void OnProgress(unsigned stage, const SFProgressPair *pair) {
  switch (stage) {
    case EVENT_LINK_STEP_0:
      SetStage(STAGE_INITIALIZE);
      break;
    case EVENT_LINK_STEP_1:
      lastTick = 0;
      break;
    case EVENT_SENDING:
      if (pair == nullptr)
        SetStage(STAGE_SEND);
      else
        TakeSample(pair->acknowledged, pair->total);
      break;
    case EVENT_WAITING:
      SetStage(STAGE_WAIT);
      break;
    default:
      break;
  }
}

void ResetProgressSamples() {
  lastTick = 0;
  lastSent = 0;
  averageRate = 0;
}
