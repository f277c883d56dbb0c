// OnProgress: what the update protocol reports, turned into the stages,
// the transfer-rate line and the percent bar. Runs on the worker thread
// only, so its samples need no lock.
#include <cstdint>

#include "app/dialogs/progress.h"
#include "os/clock.h"

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
    case SF_EVENT_LINK_STEP_0:
      SetStage(STAGE_INITIALIZE);
      break;
    case SF_EVENT_LINK_STEP_1:
      lastTick = 0;
      break;
    case SF_EVENT_TRANSFER:
      if (pair == nullptr)
        SetStage(STAGE_SEND);
      else
        TakeSample(pair->acknowledged, pair->total);
      break;
    case SF_EVENT_WAITING:
      SetStage(STAGE_WAIT_UPDATE);
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
