// What the run header records when the user confirms: the program, the
// port driver and its package, and the firmware before and after.
#pragma once
#include "log/upgrade_log.h"
#include "os/ui.h"

// Fills `info` (zeroed first) from the main dialog's caption and fields,
// the open device's driver, the registry and the target, and writes it as
// the upgrade log's run header. Every slot is terminated within its 255
// bytes, however long the text it was read from.
void CollectRunInfo(OsWindow dialog, RunInfo *info);

// The driver package's registry "Version", or "" when it cannot be read
// whole: a value that is not text, does not carry its terminator, or does
// not fit 255 bytes gives "". At most capacity - 1 characters.
void ReadDriverPackageVersion(char *text, int capacity);
