// Hand-off of the module with the OEM connection manager's console program.
#pragma once

enum { KVT_REGAIN = 0, KVT_RELEASE = 1 };

// 1 releases the module, anything else takes it back. Reports only to the
// trace; a machine without the connection manager is no error.
void corvinKvtCtrl(int mode);
