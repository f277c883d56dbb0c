// Version control's check before an update: the module identified afresh
// and judged, and the user told why not.
#pragma once
#include "os/ui.h"

struct SerialDevice;

// The program's message box: the one place that knows whether anybody is
// there to see it (quiet mode shows nothing and answers OK).
typedef int (*VersionMessageBox)(OsWindow owner, const char *text, const char *caption, unsigned style);

// Identifies the module afresh and judges it against the table for the
// first catalogue entry's version. Returns 1 when the update may go ahead;
// on refusal the box (caption "ERROR", over `owner`) has gone through
// `showMessage`.
int CheckVersionControl(SerialDevice *device, int forceUpgrade, OsWindow owner, VersionMessageBox showMessage);
