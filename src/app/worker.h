// The update worker: sends the packages, restarts the module, waits for it
// to come back and checks that the firmware changed.
#pragma once

// The thread procedure. Its argument and return value are not used.
unsigned UpdateWorker(void *unused);

struct PackageEntry;

// The run over a given catalogue; UpdateWorker passes the built-in one.
unsigned UpdateWorkerOver(const PackageEntry *catalogue, int count);
