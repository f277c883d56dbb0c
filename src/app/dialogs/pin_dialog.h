// The SIM's PIN or PUK, asked of the user before an update may start.
#pragma once
#include "os/ui.h"

enum { PIN_ACCEPTED = 1, PIN_CANCELLED = 2 };

// Runs dialog 129 modally over `owner`: 1 once the module accepted a code,
// 2 when the user gave up or the dialog could not be created.
int PinDialogRun(OsWindow owner);
