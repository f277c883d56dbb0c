// The run a native test plays: the record the entry would own, given to
// the dialogs and the worker under test.
#pragma once
#include "app/run_record.h"

inline RunRecord testRun;
