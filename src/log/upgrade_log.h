// The upgrade log: one record per call, appended to the file named at
// start-up, for users and support.
#pragma once
#include "common/printf_check.h"

enum { RUN_INFO_SLOTS = 8, RUN_INFO_TEXT = 255 };

// Slots: 0 window title, 1 driver version, 2 driver package version,
// 3 current firmware, 4 target firmware, 5 and 6 not logged, 7 hardware.
struct RunInfo {
  char slot[RUN_INFO_SLOTS][RUN_INFO_TEXT];
};

void UpgradeLogOpen(const char *path);
int UpgradeLogWrite(const char *format, ...) PRINTF_CHECK(1, 2);
void UpgradeLogRunHeader(const RunInfo *info);
void UpgradeLogForced();
int UpgradeLogResult(int code);

// Forgets the path, as at process start; for tests.
void UpgradeLogForget();

// The text a result code is logged with.
const char *UpgradeLogResultText(int code);
