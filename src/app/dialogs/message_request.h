// Message boxes asked for from a thread that owns no window: the box is
// shown by the thread that owns a dialog, through one synchronous request
// to that dialog, and its answer comes back to the asker.
#pragma once
#include <cstdint>

#include "os/ui.h"

// The request number every dialog that serves boxes reserves for them;
// above any dialog's own requests.
enum { REQUEST_MESSAGE_BOX = 0x100 };

// From any thread: ShowMessage(quiet, owner, ...) run on `dialog`'s
// thread, and its answer. Without a dialog the box is shown here, as
// ShowMessage would; a dialog that is gone answers 0.
int ShowMessageThrough(int quiet, OsWindow dialog, OsWindow owner, const char *text, const char *caption,
                       unsigned style);

// The box over `owner`, raised by the owner's own thread: for callers that
// take a box function (the version check) on a thread of their own. The
// owner's dialog knows whether its run is quiet.
int ShowMessageOnOwnersThread(OsWindow owner, const char *text, const char *caption, unsigned style);

// A dialog's request entry for REQUEST_MESSAGE_BOX: shows the box, unless
// the asker or the dialog's own run (`quiet`) is quiet.
void ServeMessageRequest(int quiet, intptr_t value);
