// The connection manager's hand-off: the laptop maker's connection manager
// lets go of the module before the update and takes it back after, through
// its console program. The file's name is the system's own, and the trace
// names it (src\sf_util, log/trace_log.h): it is kept, though nothing in it
// touches the update-mode link that the other sf_ files speak.
#pragma once

enum { KVT_REGAIN = 0, KVT_RELEASE = 1 };

// 1 releases the module, anything else takes it back. Reports only to the
// trace; a machine without the connection manager is no error.
void corvinKvtCtrl(int mode);
