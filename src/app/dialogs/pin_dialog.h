// The SIM's PIN or PUK, asked of the user before an update may start.
#pragma once
#include "os/ui.h"

enum { PIN_ACCEPTED = 1, PIN_CANCELLED = 2 };

struct SerialDevice;

// Runs dialog 129 modally over `owner`: 1 once the module `device` accepted
// a code, 2 when the user gave up, the dialog could not be created or the
// run is `quiet` (nobody would answer it). Its
// exchanges with the module run off the calling thread, which answers its
// messages meanwhile.
int PinDialogRun(OsWindow owner, SerialDevice *device, int quiet);
