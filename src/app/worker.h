// The update worker: sends the packages, restarts the module, waits for it
// to come back and checks that the firmware changed.
#pragma once

struct PackageEntry;
struct RunRecord;

// The thread procedure; its argument is the RunRecord, whose device the
// worker has to itself while it runs. Its return value is not used.
unsigned UpdateWorker(void *run);

// The run over a given catalogue; UpdateWorker passes the built-in one.
unsigned UpdateWorkerOver(RunRecord *run, const PackageEntry *catalogue, int count);
