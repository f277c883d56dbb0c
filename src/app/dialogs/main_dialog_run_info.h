// What the run header records when the user confirms: the program, the
// port driver and its package, and the firmware before and after.
#pragma once
#include "log/upgrade_log.h"
#include "os/ui.h"

struct RunRecord;

// Fills `info` (zeroed first) from the main dialog's caption and fields,
// the driver of the run's open device, the registry and the run's target,
// and writes it as the upgrade log's run header. Every slot is terminated
// within its 255 bytes, however long the text it was read from.
void CollectRunInfo(const RunRecord *run, OsWindow dialog, RunInfo *info);

// The driver package's registry "Version", or "" when it cannot be read
// whole: a value that is not text, does not carry its terminator, or does
// not fit 255 bytes gives "". At most capacity - 1 characters.
void ReadDriverPackageVersion(char *text, int capacity);
